// The menu item and its command strings.

#include "handler/cmd_prompt.h"

namespace handler {

// Placeholders until the menu item lands.
STDMETHODIMP CmdPrompt::QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) noexcept { return E_NOTIMPL; }

STDMETHODIMP CmdPrompt::GetCommandString(UINT_PTR, UINT, UINT*, CHAR*, UINT) noexcept { return E_NOTIMPL; }

}  // namespace handler
