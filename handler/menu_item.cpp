// The menu item and its command strings.

#include "handler/cmd_prompt.h"
#include "handler/localized_string.h"
#include "handler/process_strings.h"
#include "platform/result.h"

namespace handler {

STDMETHODIMP CmdPrompt::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT /*idCmdLast*/,
                                         UINT uFlags) noexcept {
  if ((uFlags & CMF_DEFAULTONLY) != 0) {
    return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);
  }
  // Shift held while the menu is built asks for a folder first. Only "down
  // now" counts: the "pressed since the last query" bit is shared with every
  // other caller and unreliable, and would lose a Shift the user is holding.
  browseMode = (static_cast<USHORT>(GetAsyncKeyState(VK_SHIFT)) & 0x8000) != 0;

  platform::WideString text;
  RETURN_IF_FAILED(loadLocalizedString(menuTextId, text));
  if (browseMode) {
    RETURN_IF_FAILED(text.append(L"..."));
  }
  InsertMenuW(hmenu, indexMenu, MF_BYPOSITION, idCmdFirst, text.c_str());
  if (menuBitmap != nullptr) {
    // The menu borrows the bitmap; this object keeps and deletes it.
    SetMenuItemBitmaps(hmenu, indexMenu, MF_BYPOSITION, menuBitmap, menuBitmap);
  }
  // One command identifier used: offset 0.
  return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 1);
}

STDMETHODIMP CmdPrompt::GetCommandString(UINT_PTR idCmd, UINT uType, UINT* /*pReserved*/, CHAR* pszName,
                                         UINT cchMax) noexcept {
  if (uType == GCS_VERBW) {
    if (idCmd != 0) {
      return E_INVALIDARG;
    }
    lstrcpynW(reinterpret_cast<LPWSTR>(pszName), verbName(), static_cast<int>(cchMax));
    return S_OK;
  }
  // Help text, wide or ANSI; the ANSI verb and the validation requests have
  // nothing to say.
  if ((uType & (GCS_HELPTEXTA | GCS_UNICODE)) == 0) {
    return S_OK;
  }
  if (idCmd != 0) {
    return E_INVALIDARG;
  }
  platform::WideString text;
  RETURN_IF_FAILED(loadLocalizedString(browseMode ? browseHelpTextId : helpTextId, text));
  if ((uType & GCS_UNICODE) != 0) {
    lstrcpynW(reinterpret_cast<LPWSTR>(pszName), text.c_str(), static_cast<int>(cchMax));
    return S_OK;
  }
  return copyAnsiText(text.c_str(), pszName, cchMax);
}

}  // namespace handler
