#pragma once
// Module-wide state of the in-process server: the instance handle, the
// modules that resources come from, and the count of reasons for the DLL to
// stay loaded.

#include <windows.h>

#include <cstddef>

namespace server {

// The DLL's own instance handle; also the module that resources load from.
HINSTANCE moduleInstance() noexcept;

// The modules searched for string resources, in order; null past the end.
// The list holds the DLL itself and nothing else.
HINSTANCE resourceModule(std::size_t index) noexcept;

// Interlocked changes of the module's lock count; each returns the new value.
LONG lockModule() noexcept;
LONG unlockModule() noexcept;
LONG lockCount() noexcept;

// Load-time set-up and unload-time release of all process-wide state, in
// that order. initializeModule goes through every step and returns false
// when one could not be completed (a lock or a process-wide string could not
// be made); the load must then fail. releaseModule tolerates a failed or
// missing initializeModule.
bool initializeModule(HINSTANCE instance) noexcept;
void releaseModule() noexcept;

}  // namespace server
