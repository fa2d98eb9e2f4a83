// IShellExtInit: the shell's selection becomes the list of target folders,
// and the interpreter's UNC setting is read.

#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include "handler/cmd_prompt.h"
#include "platform/result.h"
#include "platform/unique_resource.h"

namespace handler {
namespace {

// Twice MAX_PATH, for paths that shell services hand back.
constexpr UINT pathCapacity = 520;

constexpr wchar_t commandProcessorKey[] = L"Software\\Microsoft\\Command Processor";

enum class UncSetting { absent, disabled, enabled };

// The "DisableUNCCheck" value of one hive: absent unless the key opens and
// the value is a REG_DWORD of at most four bytes.
UncSetting readUncSetting(HKEY hive) noexcept {
  platform::UniqueKey key;
  if (RegOpenKeyExW(hive, commandProcessorKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return UncSetting::absent;
  }
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = REG_NONE;
  if (RegQueryValueExW(key.get(), L"DisableUNCCheck", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return UncSetting::absent;
  }
  return value == 1 ? UncSetting::disabled : UncSetting::enabled;
}

// The interpreter's own rule: the user's REG_DWORD decides whatever its
// value; only without one does the machine's count.
bool uncCheckIsDisabled() noexcept {
  const UncSetting user = readUncSetting(HKEY_CURRENT_USER);
  if (user != UncSetting::absent) {
    return user == UncSetting::disabled;
  }
  return readUncSetting(HKEY_LOCAL_MACHINE) == UncSetting::disabled;
}

// Appends every directory of a drop list, in the list's order. A name that
// does not fit the path buffer is skipped: cut short it would name a
// different path, which might well be a directory too.
HRESULT appendDroppedDirectories(HDROP drop, platform::WideStringList& folders) noexcept {
  wchar_t path[pathCapacity];
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT needed = DragQueryFileW(drop, i, nullptr, 0);
    if (needed == 0 || needed >= pathCapacity) {
      continue;
    }
    const UINT length = DragQueryFileW(drop, i, path, pathCapacity);
    if (length != 0 && length < pathCapacity && PathIsDirectoryW(path)) {
      RETURN_IF_FAILED(folders.append(path, length));
    }
  }
  return S_OK;
}

}  // namespace

STDMETHODIMP CmdPrompt::Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj, HKEY) noexcept {
  uncCheckDisabled = false;
  uncCheckDisabled = uncCheckIsDisabled();
  folders.clear();

  if (pidlFolder != nullptr) {
    wchar_t path[pathCapacity];
    if (SHGetPathFromIDListW(pidlFolder, path) && PathIsDirectoryW(path)) {
      RETURN_IF_FAILED(folders.append(path));
      return S_OK;
    }
  }

  // No folder, or one without a file-system path (a virtual folder): the
  // data object's drop list decides.
  if (pdtobj == nullptr) {
    return E_INVALIDARG;
  }
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  platform::UniqueStgMedium medium;
  if (FAILED(pdtobj->GetData(&format, medium.put()))) {
    medium.get() = STGMEDIUM{};  // a failed GetData leaves nothing to release
    return E_INVALIDARG;
  }
  if (medium.get().tymed != TYMED_HGLOBAL) {
    return E_INVALIDARG;  // asked for global memory only; anything else is foreign
  }
  {
    const platform::GlobalMemoryLock lock(medium.get().hGlobal);
    if (lock.data() == nullptr) {
      return E_INVALIDARG;
    }
    RETURN_IF_FAILED(appendDroppedDirectories(static_cast<HDROP>(lock.data()), folders));
  }
  return folders.size() == 1 ? S_OK : E_INVALIDARG;
}

}  // namespace handler
