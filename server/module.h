#pragma once
// Module-wide state of the in-process server: the instance handle and the
// count of reasons for the DLL to stay loaded.

#include <windows.h>

namespace server {

// The DLL's own instance handle; also the module that resources load from.
HINSTANCE moduleInstance() noexcept;

// Interlocked changes of the module's lock count; each returns the new value.
LONG lockModule() noexcept;
LONG unlockModule() noexcept;
LONG lockCount() noexcept;

// Load-time set-up and unload-time release of all process-wide state, in
// that order. initializeModule returns false when a lock could not be made;
// releaseModule tolerates a failed or missing initializeModule.
bool initializeModule(HINSTANCE instance) noexcept;
void releaseModule() noexcept;

}  // namespace server
