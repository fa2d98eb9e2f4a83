// The DLL's entry point and its exported functions: thin wrappers over the
// server's code, which test programs can also link directly.

#include <windows.h>

#include "server/module.h"
#include "server/registration.h"
#include "server/server.h"

// Process attach makes all process-wide state and fails the load when any of
// it could not be made; the loader still sends the detach then, and the
// release copes with what is missing. No thread notifications are wanted.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    if (!server::initializeModule(instance)) {
      return FALSE;
    }
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    server::releaseModule();
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return server::canUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return server::getClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer() { return server::registerServer(); }

STDAPI DllUnregisterServer() { return server::unregisterServer(); }
