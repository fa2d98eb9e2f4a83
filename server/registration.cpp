// Self-registration from the registry scripts held as resources.

#include "server/registration.h"

namespace server {

// Placeholders until self-registration lands.
HRESULT registerServer() noexcept { return E_NOTIMPL; }

HRESULT unregisterServer() noexcept { return E_NOTIMPL; }

HRESULT registerCmdPromptClass(BOOL) noexcept { return E_NOTIMPL; }

}  // namespace server
