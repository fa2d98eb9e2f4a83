// IContextMenu::InvokeCommand: opens the command interpreter in a new console
// in the selected folder, or in one the user picks below it.

#include <windows.h>

#include <oleauto.h>
#include <shellapi.h>
#include <shlobj.h>

#include "handler/cmd_prompt.h"
#include "handler/command_line.h"
#include "handler/process_strings.h"
#include "platform/memory.h"
#include "platform/process_start.h"
#include "platform/result.h"
#include "platform/unique_resource.h"

namespace handler {
namespace {

// Twice MAX_PATH, for paths that shell services hand back.
constexpr UINT pathCapacity = 520;

#ifndef _WIN64
static_assert(sizeof(CMINVOKECOMMANDINFO) == 36, "CMINVOKECOMMANDINFO as the shell lays it out");
static_assert(sizeof(CMINVOKECOMMANDINFOEX) == 64, "CMINVOKECOMMANDINFOEX as the shell lays it out");
static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW as the system lays it out");
#endif

// The caller's verb text as a BSTR: the wide verb of a Unicode record, else
// the ANSI verb in the calling thread's code page. A null result with S_OK
// means no text.
HRESULT copyVerb(const CMINVOKECOMMANDINFO& record, platform::UniqueBstr& verb) noexcept {
  if (record.cbSize == sizeof(CMINVOKECOMMANDINFOEX) && (record.fMask & CMIC_MASK_UNICODE) != 0) {
    const LPCWSTR wide = reinterpret_cast<const CMINVOKECOMMANDINFOEX&>(record).lpVerbW;
    // A wide offset with text in lpVerb is not provided for: no text.
    if (wide == nullptr || IS_INTRESOURCE(wide)) {
      return S_OK;
    }
    verb.reset(SysAllocString(wide));
    RETURN_IF_NULL_ALLOC(verb.get());
    return S_OK;
  }
  const int size = MultiByteToWideChar(CP_THREAD_ACP, 0, record.lpVerb, -1, nullptr, 0);
  if (size <= 0) {
    return E_OUTOFMEMORY;
  }
  verb.reset(SysAllocStringLen(nullptr, static_cast<UINT>(size - 1)));
  RETURN_IF_NULL_ALLOC(verb.get());
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, record.lpVerb, -1, verb.get(), size) != size) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// Whether the record names this handler's command: offset 0 or verbName,
// compared by locale and with case. S_FALSE when it is another command.
HRESULT recognise(const CMINVOKECOMMANDINFO& record) noexcept {
  if (IS_INTRESOURCE(record.lpVerb)) {
    return LOWORD(reinterpret_cast<UINT_PTR>(record.lpVerb)) == 0 ? S_OK : S_FALSE;
  }
  platform::UniqueBstr verb;
  RETURN_IF_FAILED(copyVerb(record, verb));
  platform::UniqueBstr name(SysAllocString(verbName()));
  RETURN_IF_NULL_ALLOC(name.get());
  if (verb.get() == nullptr) {
    return S_FALSE;
  }
  return VarBstrCmp(verb.get(), name.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ ? S_OK : S_FALSE;
}

// The modal folder dialog, rooted at `folder` and owned by `owner`. Leaves
// `folder` as the chosen folder's path, or empty when the user cancelled or
// chose an item that has none.
HRESULT browseBelow(HWND owner, platform::WideString& folder) noexcept {
  // Without a root list (the path has none) the dialog starts at the desktop.
  const platform::UniqueItemIdList root(ILCreateFromPathW(folder.c_str()));
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.pidlRoot = root.get();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  const platform::UniqueItemIdList chosen(SHBrowseForFolderW(&info));
  wchar_t path[pathCapacity];
  if (chosen && SHGetPathFromIDListW(chosen.get(), path)) {
    return folder.assign(path);
  }
  folder.clear();
  return S_OK;
}

// Starts the interpreter in a new console in `folder`. Both handles of the
// new process are closed at once; nobody waits for it.
HRESULT startConsole(const platform::WideString& folder, bool uncCheckDisabled) noexcept {
  const std::size_t size = commandLineSize(folder.c_str(), folder.length(), uncCheckDisabled);
  if (size == 0 || size > static_cast<std::size_t>(-1) / sizeof(wchar_t)) {
    return E_OUTOFMEMORY;
  }
  // Always a writable buffer, an empty one included: an empty command line
  // must not be null, or the new process would see its own path repeated.
  const platform::UniqueWideText commandLine(
      static_cast<wchar_t*>(platform::allocate(size * sizeof(wchar_t))));
  RETURN_IF_NULL_ALLOC(commandLine.get());
  buildCommandLine(folder.c_str(), folder.length(), uncCheckDisabled, commandLine.get(), size);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  RETURN_LAST_ERROR_IF_FALSE(platform::createProcess(comspecPath(), commandLine.get(), nullptr, nullptr,
                                                     FALSE, CREATE_NEW_CONSOLE | CREATE_DEFAULT_ERROR_MODE,
                                                     nullptr, folder.c_str(), &startup, &process));
  // Owned at once and closed on return, the process's handle first.
  const platform::UniqueHandle thread(process.hThread);
  const platform::UniqueHandle processHandle(process.hProcess);
  return S_OK;
}

}  // namespace

STDMETHODIMP CmdPrompt::InvokeCommand(CMINVOKECOMMANDINFO* pici) noexcept {
  if (pici == nullptr) {
    return E_INVALIDARG;
  }
  const HRESULT recognised = recognise(*pici);
  RETURN_IF_FAILED(recognised);
  if (recognised != S_OK || folders.empty()) {
    return E_INVALIDARG;
  }

  platform::WideString folder;
  RETURN_IF_FAILED(folder.assign(folders[0].c_str(), folders[0].length()));
  if (browseMode) {
    RETURN_IF_FAILED(browseBelow(pici->hwnd, folder));
  }
  if (folder.empty()) {
    return S_OK;  // the dialog was cancelled or gave no folder: nothing to open
  }
  // A console that cannot start is reported, unlike a cancelled dialog.
  return startConsole(folder, uncCheckDisabled);
}

}  // namespace handler
