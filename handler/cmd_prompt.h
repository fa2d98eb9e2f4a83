#pragma once
// The context-menu handler: one object per context menu that the shell
// builds on a folder, a drive or a folder's background.

#include <windows.h>

#include <shlobj.h>

#include "platform/wide_string.h"

namespace handler {

class CmdPrompt final : public IShellExtInit, public IContextMenu {
 public:
  // The class's instance creator: refuses aggregation, constructs the object
  // and answers the requested interface.
  static HRESULT create(IUnknown* outer, REFIID riid, void** ppv) noexcept;

  // IUnknown, shared by both interfaces; IShellExtInit is the identity.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
  STDMETHODIMP_(ULONG) AddRef() noexcept override;
  STDMETHODIMP_(ULONG) Release() noexcept override;

  // IShellExtInit
  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj,
                          HKEY hkeyProgID) noexcept override;

  // IContextMenu
  STDMETHODIMP QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                UINT uFlags) noexcept override;
  STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* pici) noexcept override;
  STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName,
                                UINT cchMax) noexcept override;

 private:
  friend struct CmdPromptTestAccess;  // tests read the fields directly

  CmdPrompt() noexcept;
  virtual ~CmdPrompt();
  CmdPrompt(const CmdPrompt&) = delete;
  CmdPrompt& operator=(const CmdPrompt&) = delete;

  // Caches the interpreter's path and draws menuBitmap; fails only for lack
  // of memory.
  HRESULT construct() noexcept;

  LONG referenceCount = 0;  // plain count: the object lives in one apartment
  bool uncCheckDisabled = false;
  bool browseMode = false;
  platform::WideStringList folders;
  HBITMAP menuBitmap = nullptr;
};

}  // namespace handler
