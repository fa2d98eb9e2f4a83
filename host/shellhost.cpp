// shellhost: a console shell host that builds a folder's context menu the way
// Explorer does. It finds the context-menu handlers registered for the target
// under HKEY_CLASSES_ROOT, creates each in a single-threaded apartment, hands
// it the selection, lets it add its items to a real popup menu, asks for each
// item's help text and verb, and on request invokes an item and reports the
// process that started. See `shellhost --help`.

#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/child_process.h"
#include "host/drop_data_object.h"
#include "host/output.h"
#include "platform/unique_resource.h"

namespace host {
namespace {

using platform::ComPtr;
using platform::UniqueItemIdList;
using platform::UniqueKey;
using platform::UniqueMenu;

// Exit codes.
enum Exit : int {
  kOk = 0,
  kUsage = 1,
  kNoSuchFolder = 2,
  kNoHandler = 3,
  kCallFailed = 4,
};

constexpr UINT kFirstCommandId = 0x100;

// --brief leaves out how the menu was built and prints only what a user sees.
bool brief = false;
void detail(const std::wstring& text) {
  if (!brief) {
    out(text);
  }
}
constexpr UINT kLastCommandId = 0x7FFF;

const wchar_t kUsageText[] =
    L"usage: shellhost [options] FOLDER...\n"
    L"Builds the context menu of FOLDER (several: one selection of them) as Explorer does,\n"
    L"from the context-menu handlers registered under HKEY_CLASSES_ROOT, and prints it.\n"
    L"  --background     the menu of the folder's background (one FOLDER)\n"
    L"  --invoke[=N]     choose item N of the menu (default 1), as a click does\n"
    L"  --verb NAME      invoke the command by its verb; with --ansi in a plain\n"
    L"                   CMINVOKECOMMANDINFO, with --unicode (the default) in the\n"
    L"                   extended record with CMIC_MASK_UNICODE\n"
    L"  --shift          hold Shift down while the menu is built\n"
    L"  --lang LANG      thread locale: en, de, fr, ru, zh or a locale id such as 0x419\n"
    L"  --show[=SECONDS] show the menu on screen; a chosen item is invoked; with SECONDS\n"
    L"                   its first item is highlighted and the menu closes by itself\n"
    L"  --at X,Y         where --show puts the menu (default 40,40)\n"
    L"  --brief          print only the menu and what choosing an item did\n"
    L"Exit codes: 0 done, 1 usage, 2 no such folder, 3 no handler registered,\n"
    L"4 a handler call failed.\n";

struct Options {
  std::vector<std::wstring> paths;
  bool background = false;
  int invokeItem = 0;  // 1-based menu item to invoke; 0: none
  std::wstring verb;
  bool ansiVerb = false;
  bool shift = false;
  LCID locale = 0;
  bool show = false;
  unsigned showSeconds = 0;  // 0: until the user closes the menu
  POINT at{40, 40};
};

struct Failure {
  int code;
  std::wstring message;
};

bool parseNumber(const std::wstring& text, unsigned long& value) {
  if (text.empty()) {
    return false;
  }
  wchar_t* end = nullptr;
  value = std::wcstoul(text.c_str(), &end, 0);
  return end != nullptr && *end == L'\0';
}

bool parseLocale(const std::wstring& name, LCID& locale) {
  static const std::map<std::wstring, LCID> known = {
      {L"en", 0x0409}, {L"de", 0x0407}, {L"fr", 0x040C}, {L"ru", 0x0419}, {L"zh", 0x0804}};
  if (auto found = known.find(name); found != known.end()) {
    locale = found->second;
    return true;
  }
  unsigned long value = 0;
  if (parseNumber(name, value) && value != 0 && value <= 0xFFFFFFFF) {
    locale = value;
    return true;
  }
  return false;
}

// Fills `options` or returns a usage message.
std::wstring parseOptions(int argc, wchar_t** argv, Options& options) {
  bool verbForm = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    auto value = [&](const wchar_t* option) -> std::wstring {
      size_t length = std::wcslen(option);
      if (arg.size() > length && arg.compare(0, length, option) == 0 && arg[length] == L'=') {
        return arg.substr(length + 1);
      }
      return {};
    };
    unsigned long number = 0;
    if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
      return L"help";
    } else if (arg == L"--brief") {
      brief = true;
    } else if (arg == L"--background") {
      options.background = true;
    } else if (arg == L"--invoke") {
      options.invokeItem = 1;
    } else if (arg.rfind(L"--invoke=", 0) == 0) {
      if (!parseNumber(value(L"--invoke"), number) || number == 0 || number > 1000) {
        return L"--invoke=N needs an item number from 1";
      }
      options.invokeItem = static_cast<int>(number);
    } else if (arg == L"--verb") {
      if (++i >= argc || argv[i][0] == L'\0') {
        return L"--verb needs a NAME";
      }
      options.verb = argv[i];
    } else if (arg == L"--ansi" || arg == L"--unicode") {
      options.ansiVerb = arg == L"--ansi";
      verbForm = true;
    } else if (arg == L"--shift") {
      options.shift = true;
    } else if (arg == L"--lang") {
      if (++i >= argc || !parseLocale(argv[i], options.locale)) {
        return L"--lang needs en, de, fr, ru, zh or a locale id";
      }
    } else if (arg == L"--show") {
      options.show = true;
    } else if (arg.rfind(L"--show=", 0) == 0) {
      if (!parseNumber(value(L"--show"), number) || number == 0 || number > 600) {
        return L"--show=SECONDS needs a number of seconds from 1 to 600";
      }
      options.show = true;
      options.showSeconds = number;
    } else if (arg == L"--at") {
      if (++i >= argc || swscanf(argv[i], L"%ld,%ld", &options.at.x, &options.at.y) != 2) {
        return L"--at needs X,Y";
      }
    } else if (arg.size() > 1 && arg[0] == L'-' && arg[1] == L'-') {
      return L"unknown option " + arg;
    } else {
      options.paths.push_back(arg);
    }
  }
  if (options.paths.empty()) {
    return L"no FOLDER given";
  }
  if (options.background && options.paths.size() != 1) {
    return L"--background takes exactly one FOLDER";
  }
  if (options.invokeItem != 0 && !options.verb.empty()) {
    return L"--invoke and --verb exclude each other";
  }
  if (verbForm && options.verb.empty()) {
    return L"--ansi and --unicode go with --verb";
  }
  return {};
}

std::wstring guidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// A string value of a key under HKEY_CLASSES_ROOT; empty when missing.
std::wstring classesValue(const std::wstring& subkey, const wchar_t* name) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  DWORD type = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, subkey.c_str(), name,
                   RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, data,
                   &size) != ERROR_SUCCESS) {
    return {};
  }
  return data;
}

// One context-menu handler as the registry names it.
struct Handler {
  std::wstring name;      // the entry's key name, e.g. CmdPrompt
  std::wstring classKey;  // where it was found first, e.g. Directory
  CLSID clsid{};
  std::wstring server;  // InprocServer32 default value
  std::wstring threadingModel;
  // While the menu lives:
  ComPtr<IContextMenu> menu;
  UINT firstId = 0;
  UINT idCount = 0;
  HMODULE module = nullptr;
  std::wstring modulePath;
};

// The ContextMenuHandlers entries under the class keys, in key order, each
// class identifier once (Explorer loads a handler once per menu).
std::vector<Handler> findHandlers(const std::vector<std::wstring>& classKeys) {
  std::vector<Handler> handlers;
  std::set<std::wstring> seen;
  for (const std::wstring& classKey : classKeys) {
    UniqueKey key;
    std::wstring path = classKey + L"\\shellex\\ContextMenuHandlers";
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
      detail(L"  " + path + L": no such key\n");
      continue;
    }
    bool any = false;
    for (DWORD index = 0;; ++index) {
      wchar_t name[256];
      DWORD nameLength = 256;
      if (RegEnumKeyExW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      any = true;
      // The entry's default value names the class; a key named by the class
      // identifier itself is the older form.
      std::wstring classText = classesValue(path + L"\\" + name, nullptr);
      if (classText.empty()) {
        classText = name;
      }
      Handler handler;
      handler.name = name;
      handler.classKey = classKey;
      if (FAILED(CLSIDFromString(classText.c_str(), &handler.clsid))) {
        detail(L"  " + path + L"\\" + name + L" -> \"" + classText +
               L"\": not a class identifier, skipped\n");
        continue;
      }
      std::wstring clsidText = guidText(handler.clsid);
      if (!seen.insert(clsidText).second) {
        detail(L"  " + path + L"\\" + name + L" -> " + clsidText + L" (already listed)\n");
        continue;
      }
      detail(L"  " + path + L"\\" + name + L" -> " + clsidText + L"\n");
      handler.server = classesValue(L"CLSID\\" + clsidText + L"\\InprocServer32", nullptr);
      handler.threadingModel = classesValue(L"CLSID\\" + clsidText + L"\\InprocServer32", L"ThreadingModel");
      handlers.push_back(std::move(handler));
    }
    if (!any) {
      detail(L"  " + path + L": no entries\n");
    }
  }
  return handlers;
}

// The module that holds an interface's code, found from its method table.
HMODULE moduleOf(IUnknown* object) {
  HMODULE module = nullptr;
  void* vtable = *reinterpret_cast<void**>(object);
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(vtable), &module);
  return module;
}

std::wstring moduleFileName(HMODULE module) {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD length = GetModuleFileNameW(module, path, MAX_PATH * 2);
  return std::wstring(path, length);
}

bool moduleLoaded(const std::wstring& path) {
  HMODULE module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path.c_str(), &module) &&
         module != nullptr;
}

void pressShift(bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = VK_SHIFT;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof input);
}

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// "&Command Prompt" as the menu shows it: "Command Prompt", mnemonic 'C'.
std::wstring displayText(const std::wstring& text, wchar_t& mnemonic) {
  std::wstring shown;
  mnemonic = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) {
      ++i;
      if (text[i] != L'&' && mnemonic == 0) {
        mnemonic = text[i];
      }
    } else if (text[i] == L'\t') {
      break;  // an accelerator's text follows
    }
    shown += text[i];
  }
  return shown;
}

std::wstring bitmapText(HBITMAP bitmap) {
  BITMAP info{};
  if (bitmap == nullptr || GetObjectW(bitmap, sizeof info, &info) == 0) {
    return L"no icon";
  }
  return L"icon " + std::to_wstring(info.bmWidth) + L"x" + std::to_wstring(info.bmHeight) + L" bitmap, " +
         std::to_wstring(info.bmBitsPixel) + L" bit" + (info.bmBitsPixel == 1 ? L"" : L"s") + L" per pixel";
}

// Asks a handler for an item's strings the way a host does: help text in both
// widths (Explorer's status bar uses the wide one) and the verb.
void printCommandStrings(IContextMenu* menu, UINT offset) {
  wchar_t wide[512];
  char ansi[512];
  wide[0] = L'\0';
  HRESULT hr = menu->GetCommandString(offset, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(wide), 512);
  out(L"       help (wide):  " + (SUCCEEDED(hr) ? quoted(wide) : L"failed, " + hresultText(hr)) + L"\n");
  ansi[0] = '\0';
  hr = menu->GetCommandString(offset, GCS_HELPTEXTA, nullptr, ansi, 512);
  UINT codePage = GetACP();
  wchar_t cpText[8] = {};
  if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, cpText, 8) > 0) {
    codePage = static_cast<UINT>(_wtoi(cpText));
  }
  out(L"       help (ANSI):  " +
      (SUCCEEDED(hr) ? quoted(fromAnsi(ansi, CP_THREAD_ACP)) + L" in code page " + std::to_wstring(codePage)
                     : L"failed, " + hresultText(hr)) +
      L"\n");
  wide[0] = L'\0';
  hr = menu->GetCommandString(offset, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(wide), 512);
  out(L"       verb (wide):  " +
      (FAILED(hr)         ? L"failed, " + hresultText(hr)
       : wide[0] == L'\0' ? L"none"
                          : quoted(wide)) +
      L"\n");
  ansi[0] = '\0';
  hr = menu->GetCommandString(offset, GCS_VERBA, nullptr, ansi, 512);
  detail(L"       verb (ANSI):  " +
         (FAILED(hr)        ? L"failed, " + hresultText(hr)
          : ansi[0] == '\0' ? L"none (" + hresultText(hr) + L", nothing written)"
                            : quoted(fromAnsi(ansi, CP_THREAD_ACP))) +
         L"\n");
}

Handler* ownerOf(std::vector<Handler>& handlers, UINT id) {
  for (Handler& handler : handlers) {
    if (handler.menu && id >= handler.firstId && id < handler.firstId + handler.idCount) {
      return &handler;
    }
  }
  return nullptr;
}

// The item ids of the menu in order of position.
std::vector<UINT> printMenu(HMENU menu, std::vector<Handler>& handlers) {
  std::vector<UINT> ids;
  int count = GetMenuItemCount(menu);
  out(std::wstring(brief ? L"" : L"\n") + L"The menu" +
      std::wstring(count == 1 ? L" (1 item):\n" : L" (" + std::to_wstring(count) + L" items):\n"));
  if (count <= 0) {
    out(L"  (empty)\n");
  }
  for (int position = 0; position < count; ++position) {
    wchar_t text[512] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask =
        MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING | MIIM_CHECKMARKS | MIIM_BITMAP | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 512;
    GetMenuItemInfoW(menu, position, TRUE, &info);
    ids.push_back(info.wID);
    std::wstring number = std::to_wstring(position + 1) + L". ";
    if (info.fType & MFT_SEPARATOR) {
      out(L"  " + number + L"----------\n");
      continue;
    }
    wchar_t mnemonic = 0;
    std::wstring shown = displayText(text, mnemonic);
    std::wstring marks;
    marks += mnemonic ? L"[mnemonic " + std::wstring(1, mnemonic) + L"]" : L"[no mnemonic]";
    HBITMAP bitmap = info.hbmpItem != nullptr ? info.hbmpItem : info.hbmpUnchecked;
    marks += L" [" + bitmapText(bitmap) + L"]";
    if (info.fState & MFS_DISABLED) {
      marks += L" [disabled]";
    }
    if (info.fState & MFS_DEFAULT) {
      marks += L" [default]";
    }
    if (info.hSubMenu != nullptr) {
      marks += L" [submenu]";
    }
    out(L"  " + number + shown + L"   " + marks + L"\n");
    out(L"       text:         " + quoted(text) + L"\n");
    Handler* owner = ownerOf(handlers, info.wID);
    if (owner == nullptr) {
      detail(L"       command:      id " + hex(info.wID, 4) + L", outside every handler's range\n");
      continue;
    }
    UINT offset = info.wID - owner->firstId;
    detail(L"       command:      id " + hex(info.wID, 4) + L", offset " + std::to_wstring(offset) + L" of " +
           owner->name + L"\n");
    printCommandStrings(owner->menu.get(), offset);
  }
  return ids;
}

// --- On-screen menu ---

struct ShowState {
  std::vector<Handler>* handlers = nullptr;
  unsigned seconds = 0;
  bool highlighted = false;
};
ShowState showState;

LRESULT CALLBACK ownerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ENTERIDLE:
      // The menu is up: highlight its first item, as a user moving onto it
      // would, so that the picture shows it selected with its help text.
      if (wParam == MSGF_MENU && showState.seconds != 0 && !showState.highlighted) {
        showState.highlighted = true;
        PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
      }
      return 0;
    case WM_MENUSELECT: {
      // Explorer shows the highlighted item's help text in its status bar.
      UINT id = LOWORD(wParam);
      if (HIWORD(wParam) == 0xFFFF && lParam == 0) {
        return 0;
      }
      if (Handler* owner = ownerOf(*showState.handlers, id); owner && !(HIWORD(wParam) & MF_POPUP)) {
        wchar_t help[512] = {};
        if (SUCCEEDED(owner->menu->GetCommandString(id - owner->firstId, GCS_HELPTEXTW, nullptr,
                                                    reinterpret_cast<LPSTR>(help), 512))) {
          out(L"  highlighted; status bar: " + quoted(help) + L"\n");
        }
      }
      return 0;
    }
    case WM_TIMER:
      KillTimer(window, wParam);
      EndMenu();
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// Shows the menu at `at`; returns the chosen command id, or 0.
UINT showMenu(HMENU menu, std::vector<Handler>& handlers, const Options& options, HWND& owner) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ownerWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"DorvanelShellHost";
  RegisterClassW(&windowClass);
  owner = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"shellhost", WS_POPUP, options.at.x,
                          options.at.y, 1, 1, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (owner == nullptr) {
    err(L"shellhost: cannot create a window to show the menu (is there a display?)\n");
    return 0;
  }
  ShowWindow(owner, SW_SHOWNOACTIVATE);
  SetForegroundWindow(owner);
  showState.handlers = &handlers;
  showState.seconds = options.showSeconds;
  if (options.showSeconds != 0) {
    SetTimer(owner, 1, options.showSeconds * 1000, nullptr);
    out(L"\nShowing the menu at " + std::to_wstring(options.at.x) + L"," + std::to_wstring(options.at.y) +
        L" for " + std::to_wstring(options.showSeconds) + L" s\n");
  } else {
    out(L"\nShowing the menu at " + std::to_wstring(options.at.x) + L"," + std::to_wstring(options.at.y) +
        L"; choose an item or press Esc\n");
  }
  UINT chosen = static_cast<UINT>(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN,
                                                   options.at.x, options.at.y, owner, nullptr));
  out(chosen != 0 ? L"  chosen: id " + hex(chosen, 4) + L"\n" : std::wstring(L"  closed without a choice\n"));
  return chosen;
}

// --- Invoking ---

void reportStartedProcesses(const std::set<DWORD>& before) {
  std::vector<ChildProcess> started = newChildProcesses(before, 3000);
  if (started.empty()) {
    out(L"  no new process seen (none started, or it ended at once)\n");
  }
  for (const ChildProcess& child : started) {
    out(L"  started process " + std::to_wstring(child.id) + L": " + child.image +
        (child.ended ? L" (already ended)" : L"") + L"\n");
    if (child.readable) {
      out(L"    program:        " + child.imagePath + L"\n");
      // A command line that is only the program's quoted path carries no
      // arguments (Wine reports an empty one that way).
      bool onlyProgram = child.commandLine == quoted(child.imagePath) || child.commandLine == child.imagePath;
      out(L"    command line:   " + quoted(child.commandLine) +
          (child.commandLine.empty() ? L" (empty)"
           : onlyProgram             ? L" (the program alone, no arguments)"
                                     : L"") +
          L"\n");
      out(L"    working folder: " + child.workingFolder + L"\n");
    }
  }
}

HRESULT invokeOffset(Handler& handler, UINT offset, HWND owner, const Options& options,
                     const std::wstring& folder) {
  // Explorer's record: the extended form, with the offset in both verb fields.
  std::string folderAnsi = toAnsi(folder, CP_ACP);
  CMINVOKECOMMANDINFOEX info{};
  info.cbSize = sizeof info;
  info.fMask = CMIC_MASK_UNICODE | (options.shift ? CMIC_MASK_SHIFT_DOWN : 0);
  info.hwnd = owner;
  info.lpVerb = MAKEINTRESOURCEA(offset);
  info.lpVerbW = MAKEINTRESOURCEW(offset);
  info.lpDirectory = folderAnsi.c_str();
  info.lpDirectoryW = folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  HRESULT hr = handler.menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
  out(L"InvokeCommand(offset " + std::to_wstring(offset) + L") on " + handler.name + L" -> " +
      hresultText(hr) + L"\n");
  return hr;
}

HRESULT invokeVerb(Handler& handler, const std::wstring& verb, bool ansiOnly, HWND owner) {
  std::string verbAnsi = toAnsi(verb, CP_THREAD_ACP);
  HRESULT hr;
  if (ansiOnly) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.hwnd = owner;
    info.lpVerb = verbAnsi.c_str();
    info.nShow = SW_SHOWNORMAL;
    hr = handler.menu->InvokeCommand(&info);
  } else {
    CMINVOKECOMMANDINFOEX info{};
    info.cbSize = sizeof info;
    info.fMask = CMIC_MASK_UNICODE;
    info.hwnd = owner;
    info.lpVerb = verbAnsi.c_str();
    info.lpVerbW = verb.c_str();
    info.nShow = SW_SHOWNORMAL;
    hr = handler.menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
  }
  out(L"InvokeCommand(verb " + quoted(verb) + (ansiOnly ? L", ANSI record" : L", Unicode record") + L") on " +
      handler.name + L" -> " + hresultText(hr) + L"\n");
  return hr;
}

// --- The run ---

int run(const Options& options) {
  // Threads and language first: a handler reads them when it is called.
  if (options.locale != 0) {
    SetThreadLocale(options.locale);
    SetThreadUILanguage(LANGIDFROMLCID(options.locale));
  }
  wchar_t cpText[8] = {};
  GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, cpText, 8);
  out(std::wstring(L"shellhost (") + (sizeof(void*) == 8 ? L"64" : L"32") +
      L"-bit): single-threaded apartment, thread locale " + hex(GetThreadLocale(), 4) + L", ANSI code page " +
      cpText + L"\n");

  // The selection: full paths of existing folders.
  std::vector<std::wstring> folders;
  for (const std::wstring& path : options.paths) {
    wchar_t full[MAX_PATH * 2];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
    DWORD attributes =
        length > 0 && length < MAX_PATH * 2 ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      err(L"shellhost: no such folder: " + path + L"\n");
      return kNoSuchFolder;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      err(L"shellhost: not a folder: " + path + L" (this host builds menus of folders and drives only)\n");
      return kNoSuchFolder;
    }
    folders.push_back(full);
  }

  // Which class keys apply, as Explorer picks them for the (first) item.
  const std::wstring& target = folders.front();
  bool driveRoot = target.size() == 3 && target[1] == L':' && target[2] == L'\\';
  std::vector<std::wstring> classKeys;
  std::wstring what;
  if (options.background) {
    classKeys = {L"Directory\\Background"};
    what = L"background of folder " + target;
  } else if (driveRoot) {
    classKeys = {L"Drive", L"Folder"};
    what = L"drive " + target;
  } else {
    classKeys = {L"Directory", L"Folder"};
    what = folders.size() == 1 ? L"folder " + target : std::to_wstring(folders.size()) + L" folders";
  }
  out(L"Target: " + what + L"\n");
  for (size_t i = 1; i < folders.size(); ++i) {
    out(L"        and " + folders[i] + L"\n");
  }

  detail(L"Context-menu handlers registered under HKEY_CLASSES_ROOT:\n");
  std::vector<Handler> handlers = findHandlers(classKeys);
  if (handlers.empty()) {
    err(L"shellhost: no context-menu handler is registered for the " + what + L"\n");
    return kNoHandler;
  }

  int exitCode = kOk;
  auto failed = [&](const std::wstring& message) {
    err(L"shellhost: " + message + L"\n");
    exitCode = kCallFailed;
  };

  // What each handler is given: the folder's item-ID list for a background,
  // otherwise the selection as a file drop list, and the class key.
  UniqueItemIdList folderIdList;
  ComPtr<IDataObject> selection;
  if (options.background) {
    folderIdList.reset(ILCreateFromPathW(target.c_str()));
    if (!folderIdList) {
      err(L"shellhost: no item-ID list for " + target + L"\n");
      return kNoSuchFolder;
    }
  } else {
    *selection.put() = createDropDataObject(folders);
    if (!selection) {
      err(L"shellhost: out of memory\n");
      return kCallFailed;
    }
  }

  UniqueMenu menu(CreatePopupMenu());
  UINT nextId = kFirstCommandId;
  UINT flags = CMF_NORMAL | (options.shift ? CMF_EXTENDEDVERBS : 0);
  if (options.shift) {
    pressShift(true);
    out(L"Shift is held down while the menu is built\n");
  }
  for (Handler& handler : handlers) {
    std::wstring clsidText = guidText(handler.clsid);
    detail(L"\nHandler " + handler.name + L" " + clsidText + L"\n");
    detail(L"  InprocServer32: " + (handler.server.empty() ? L"(none)" : handler.server) +
           L", ThreadingModel " + (handler.threadingModel.empty() ? L"(none)" : handler.threadingModel) +
           L"\n");
    ComPtr<IShellExtInit> init;
    HRESULT hr =
        CoCreateInstance(handler.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.putVoid());
    detail(L"  CoCreateInstance -> " + hresultText(hr) + L"\n");
    if (FAILED(hr)) {
      failed(L"cannot create handler " + handler.name + L": " + hresultText(hr));
      continue;
    }
    handler.module = moduleOf(init.get());
    handler.modulePath = moduleFileName(handler.module);
    detail(L"  loaded from " + handler.modulePath + L"\n");

    UniqueKey classKey;
    RegOpenKeyExW(HKEY_CLASSES_ROOT, handler.classKey.c_str(), 0, KEY_READ, classKey.put());
    hr = init->Initialize(folderIdList.get(), selection.get(), classKey.get());
    detail(L"  Initialize(" + std::wstring(options.background ? L"folder item-ID list" : L"no item-ID list") +
           (selection ? L", CF_HDROP of " + std::to_wstring(folders.size()) + L" path(s)"
                      : L", no data object") +
           L", class key " + handler.classKey + L") -> " + hresultText(hr) + L"\n");
    if (FAILED(hr)) {
      // Explorer drops such a handler: it adds nothing to the menu.
      failed(L"Initialize of " + handler.name + L" failed: " + hresultText(hr) + L"; handler dropped");
      continue;
    }
    hr = init->QueryInterface(IID_IContextMenu, handler.menu.putVoid());
    if (FAILED(hr)) {
      failed(handler.name + L" has no IContextMenu: " + hresultText(hr));
      continue;
    }
    UINT position = static_cast<UINT>(GetMenuItemCount(menu.get()));
    hr = handler.menu->QueryContextMenu(menu.get(), position, nextId, kLastCommandId, flags);
    detail(L"  QueryContextMenu(position " + std::to_wstring(position) + L", ids " + hex(nextId, 4) + L".." +
           hex(kLastCommandId, 4) + L", flags " + hex(flags, 2) + L") -> " +
           (SUCCEEDED(hr) ? hex(static_cast<unsigned long>(hr)) : hresultText(hr)) + L": " +
           std::to_wstring(SUCCEEDED(hr) ? HRESULT_CODE(hr) : 0) + L" id(s) used\n");
    if (FAILED(hr)) {
      failed(L"QueryContextMenu of " + handler.name + L" failed: " + hresultText(hr));
      handler.menu.reset();
      continue;
    }
    handler.firstId = nextId;
    handler.idCount = HRESULT_CODE(hr);
    nextId += handler.idCount;
  }
  if (options.shift) {
    pressShift(false);
  }

  std::vector<UINT> ids = printMenu(menu.get(), handlers);

  // Choosing: on screen, by item number, or by verb.
  HWND owner = nullptr;
  UINT chosen = 0;
  if (options.show) {
    chosen = showMenu(menu.get(), handlers, options, owner);
  }
  if (options.invokeItem != 0) {
    if (options.invokeItem > static_cast<int>(ids.size())) {
      err(L"shellhost: the menu has no item " + std::to_wstring(options.invokeItem) + L"\n");
      exitCode = kCallFailed;
    } else {
      chosen = ids[options.invokeItem - 1];
    }
  }
  if (owner == nullptr) {
    owner = GetConsoleWindow();
  }
  if (chosen != 0 || !options.verb.empty()) {
    out(L"\n");
    std::set<DWORD> before = childProcessIds();
    HRESULT hr = E_FAIL;
    if (chosen != 0) {
      if (Handler* handler = ownerOf(handlers, chosen)) {
        hr = invokeOffset(*handler, chosen - handler->firstId, owner, options, target);
      } else {
        err(L"shellhost: item " + hex(chosen, 4) + L" belongs to no handler\n");
      }
    } else {
      // By name: each handler in turn until one takes the verb.
      for (Handler& handler : handlers) {
        if (handler.menu) {
          hr = invokeVerb(handler, options.verb, options.ansiVerb, owner);
          if (SUCCEEDED(hr)) {
            break;
          }
        }
      }
    }
    if (FAILED(hr)) {
      failed(L"the command was not carried out: " + hresultText(hr));
    } else {
      reportStartedProcesses(before);
    }
  }
  if (owner != nullptr && owner != GetConsoleWindow()) {
    DestroyWindow(owner);
  }

  // Release everything, then let COM unload what is no longer in use.
  std::map<std::wstring, bool> modules;
  for (Handler& handler : handlers) {
    if (!handler.modulePath.empty()) {
      modules[handler.modulePath] = true;
    }
    handler.menu.reset();
  }
  menu.reset();
  selection.reset();
  folderIdList.reset();
  CoFreeUnusedLibraries();
  detail(L"\nReleased the handlers and the menu; CoFreeUnusedLibraries:\n");
  for (const auto& [path, unused] : modules) {
    detail(L"  " + path + (moduleLoaded(path) ? L" is still loaded\n" : L" was unloaded\n"));
  }
  return exitCode;
}

}  // namespace
}  // namespace host

int wmain(int argc, wchar_t** argv) {
  host::Options options;
  std::wstring problem = host::parseOptions(argc, argv, options);
  if (problem == L"help") {
    host::out(host::kUsageText);
    return host::kOk;
  }
  if (!problem.empty()) {
    host::err(L"shellhost: " + problem + L"\n" + host::kUsageText);
    return host::kUsage;
  }
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    host::err(L"shellhost: CoInitializeEx failed: " + host::hresultText(hr) + L"\n");
    return host::kCallFailed;
  }
  int code = host::run(options);
  CoUninitialize();
  return code;
}
