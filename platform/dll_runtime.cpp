// Runtime hooks the compiler may reference, provided here so that the DLL
// links no C++ runtime library. Only the DLL links this file.

#include <windows.h>

// A call through an abstract slot is a bug; end the process rather than pull
// in the runtime's handler.
extern "C" void __cxa_pure_virtual() {
  RaiseFailFastException(nullptr, nullptr, 0);
  __builtin_trap();
}
