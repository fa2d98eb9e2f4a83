#include "server/server.h"

#include "server/module.h"

namespace server {

HRESULT canUnloadNow() noexcept { return lockCount() == 0 ? S_OK : S_FALSE; }

// Placeholder until the class object lands.
HRESULT getClassObject(REFCLSID, REFIID, void** ppv) noexcept {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace server
