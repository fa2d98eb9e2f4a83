// Self-registration from the registry scripts held as resources.

#include <windows.h>

// Placeholders until self-registration lands.
STDAPI DllRegisterServer() { return E_NOTIMPL; }

STDAPI DllUnregisterServer() { return E_NOTIMPL; }
