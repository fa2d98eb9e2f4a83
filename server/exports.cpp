// The DLL's entry point, DllGetClassObject and DllCanUnloadNow.

#include <windows.h>

#include "server/module.h"

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

STDAPI DllCanUnloadNow() { return server::lockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID, REFIID, LPVOID* ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}
