// InvokeCommand: which commands it accepts, and the consoles it starts,
// observed twice: through the arguments of the process-creation call (the
// only place where an empty command line can be told from a null one under
// Wine), and through command_probe.exe started for real as the interpreter.

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "handler/process_strings.h"
#include "handler_fixture.h"
#include "platform/memory.h"
#include "platform/process_start.h"

using handler_testing::Access;
using handler_testing::createHandler;
using handler_testing::DropDataObject;
using handler_testing::itemIdListOf;
using handler_testing::ProbeInterpreter;
using testing_support::narrow;

namespace {

// What the process-creation seam saw in its last call.
struct Call {
  std::optional<std::wstring> application;  // no value: null
  std::optional<std::wstring> commandLine;
  bool commandLineWritable = false;
  bool processAttributesNull = false;
  bool threadAttributesNull = false;
  BOOL inheritHandles = TRUE;
  DWORD flags = 0;
  bool environmentNull = false;
  std::optional<std::wstring> directory;
  STARTUPINFOW startup{};
  HANDLE process = nullptr;
  HANDLE thread = nullptr;
  DWORD error = 0;  // of a failed start
};

enum class Mode { real, fakeSuccess, fakeFailure };
Mode mode = Mode::real;
DWORD fakeError = 0;
std::vector<Call> calls;

std::optional<std::wstring> text(const wchar_t* value) {
  return value != nullptr ? std::optional<std::wstring>(value) : std::nullopt;
}

BOOL WINAPI recordingCreateProcess(LPCWSTR application, LPWSTR commandLine,
                                   LPSECURITY_ATTRIBUTES processAttributes,
                                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                                   LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                                   LPPROCESS_INFORMATION information) {
  Call call;
  call.application = text(application);
  call.commandLine = text(commandLine);
  if (commandLine != nullptr) {
    // Writable as CreateProcessW requires: write its terminator back.
    const size_t length = wcslen(commandLine);
    commandLine[length] = L'\0';
    call.commandLineWritable = true;
  }
  call.processAttributesNull = processAttributes == nullptr;
  call.threadAttributesNull = threadAttributes == nullptr;
  call.inheritHandles = inheritHandles;
  call.flags = flags;
  call.environmentNull = environment == nullptr;
  call.directory = text(directory);
  call.startup = *startup;
  BOOL result = FALSE;
  switch (mode) {
    case Mode::real:
      result = CreateProcessW(application, commandLine, processAttributes, threadAttributes, inheritHandles,
                              flags, environment, directory, startup, information);
      call.error = result ? 0 : GetLastError();
      break;
    case Mode::fakeSuccess:
      // Two handles of our own stand for the process and its thread.
      information->hProcess = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      information->hThread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      information->dwProcessId = 1;
      information->dwThreadId = 1;
      result = TRUE;
      break;
    case Mode::fakeFailure:
      call.error = fakeError;
      break;
  }
  if (result) {
    call.process = information->hProcess;
    call.thread = information->hThread;
  }
  calls.push_back(call);
  SetLastError(call.error);
  return result;
}

bool handleIsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

// An invoke record in either form.
CMINVOKECOMMANDINFOEX record(DWORD size, DWORD mask, const char* verb, const wchar_t* wideVerb = nullptr) {
  CMINVOKECOMMANDINFOEX info{};
  info.cbSize = size;
  info.fMask = mask;
  info.lpVerb = verb;
  info.lpVerbW = wideVerb;
  info.nShow = SW_SHOWNORMAL;
  return info;
}
CMINVOKECOMMANDINFOEX offset(UINT_PTR value) {
  return record(sizeof(CMINVOKECOMMANDINFO), 0, reinterpret_cast<const char*>(value));
}

// A folder reachable as \\dorvanel-srv\pub: Wine finds UNC paths under the
// prefix's dosdevices\unc\SERVER\SHARE, seen here through drive Z:.
class UncShare {
 public:
  UncShare() {
    wchar_t prefix[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      return;
    }
    std::wstring base = L"Z:" + std::wstring(prefix);
    for (wchar_t& c : base) {
      c = c == L'/' ? L'\\' : c;
    }
    unc_ = base + L"\\dosdevices\\unc";
    createdUnc_ = CreateDirectoryW(unc_.c_str(), nullptr) != FALSE;
    CreateDirectoryW((unc_ + L"\\dorvanel-srv").c_str(), nullptr);
    CreateDirectoryW((unc_ + L"\\dorvanel-srv\\pub").c_str(), nullptr);
    CreateDirectoryW((unc_ + L"\\dorvanel-srv\\pub\\sub").c_str(), nullptr);
    CreateDirectoryW((unc_ + L"\\dorvanel-srv\\pub\\my folder").c_str(), nullptr);
    available_ = PathIsDirectoryW(L"\\\\dorvanel-srv\\pub\\sub") != FALSE;
  }
  ~UncShare() {
    if (!unc_.empty()) {
      testing_support::removeTree(createdUnc_ ? unc_ : unc_ + L"\\dorvanel-srv");
    }
  }
  bool available() const { return available_; }

 private:
  std::wstring unc_;
  bool createdUnc_ = false;
  bool available_ = false;
};

class ConsoleLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    mode = Mode::fakeSuccess;
    previous_ = platform::replaceCreateProcess(recordingCreateProcess);
    folder_ = temp_.makeFolder(L"work");
  }
  void TearDown() override {
    platform::replaceCreateProcess(previous_);
    for (const Call& call : calls) {
      if (mode == Mode::fakeSuccess && call.process != nullptr) {
        EXPECT_FALSE(handleIsOpen(call.process));
      }
    }
  }

  // A handler whose one folder is `path`, taken from a drop list (which also
  // takes \\?\ and UNC paths, unlike an item-ID list).
  platform::ComPtr<IShellExtInit> handlerFor(const std::vector<std::wstring>& paths,
                                             HRESULT expected = S_OK) {
    auto init = createHandler();
    DropDataObject data(paths);
    EXPECT_HR(expected, init->Initialize(nullptr, &data, nullptr));
    return init;
  }

  static HRESULT invoke(IShellExtInit* init, CMINVOKECOMMANDINFOEX info) {
    platform::ComPtr<IContextMenu> menu;
    EXPECT_HR(S_OK, init->QueryInterface(IID_IContextMenu, menu.putVoid()));
    return menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
  }

  ProbeInterpreter probe_;
  testing_support::TempFolder temp_;
  std::wstring folder_;
  platform::CreateProcessFunction previous_ = nullptr;
};

TEST_F(ConsoleLaunch, AcceptsOffsetZeroAndItsVerbInEitherForm) {
  struct Case {
    const char* what;
    CMINVOKECOMMANDINFOEX info;
    HRESULT expected;
  };
  constexpr DWORD plain = sizeof(CMINVOKECOMMANDINFO);
  constexpr DWORD extended = sizeof(CMINVOKECOMMANDINFOEX);
  const Case cases[] = {
      {"offset 0", offset(0), S_OK},
      {"offset 1", offset(1), E_INVALIDARG},
      {"offset 0xFFFF", offset(0xFFFF), E_INVALIDARG},
      {"ANSI verb", record(plain, 0, "Dorvanel"), S_OK},
      {"ANSI verb, no size at all", record(0, 0, "Dorvanel"), S_OK},
      {"ANSI verb in small letters", record(plain, 0, "dorvanel"), E_INVALIDARG},
      {"ANSI verb in capitals", record(plain, 0, "DORVANEL"), E_INVALIDARG},
      {"ANSI verb with a trailing blank", record(plain, 0, "Dorvanel "), E_INVALIDARG},
      {"ANSI verb cut short", record(plain, 0, "Dorvane"), E_INVALIDARG},
      {"empty ANSI verb", record(plain, 0, ""), E_INVALIDARG},
      {"another verb", record(plain, 0, "open"), E_INVALIDARG},
      {"Unicode verb, ANSI text ignored", record(extended, CMIC_MASK_UNICODE, "junk", L"Dorvanel"), S_OK},
      {"Unicode verb wrong, ANSI right", record(extended, CMIC_MASK_UNICODE, "Dorvanel", L"Other"),
       E_INVALIDARG},
      {"Unicode verb in small letters", record(extended, CMIC_MASK_UNICODE, "Dorvanel", L"dorvanel"),
       E_INVALIDARG},
      {"Unicode form, null wide verb", record(extended, CMIC_MASK_UNICODE, "Dorvanel", nullptr),
       E_INVALIDARG},
      {"Unicode form, empty wide verb", record(extended, CMIC_MASK_UNICODE, "Dorvanel", L""), E_INVALIDARG},
      {"Unicode form, wide offset 0",
       record(extended, CMIC_MASK_UNICODE, "Dorvanel", reinterpret_cast<const wchar_t*>(0)), E_INVALIDARG},
      {"Unicode form, wide offset 1",
       record(extended, CMIC_MASK_UNICODE, "Dorvanel", reinterpret_cast<const wchar_t*>(1)), E_INVALIDARG},
      {"Unicode mask with the plain size: ANSI decides",
       record(plain, CMIC_MASK_UNICODE, "Dorvanel", L"Other"), S_OK},
      {"extended size without the mask: ANSI decides", record(extended, 0, "Dorvanel", L"Other"), S_OK},
      {"extended size without the mask, ANSI wrong", record(extended, 0, "Other", L"Dorvanel"), E_INVALIDARG},
      {"offset 0 in the Unicode form", record(extended, CMIC_MASK_UNICODE, nullptr, L"Other"), S_OK},
      {"no UI asked for", record(plain, CMIC_MASK_FLAG_NO_UI, "Dorvanel"), S_OK},
  };
  auto init = handlerFor({folder_});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    calls.clear();
    EXPECT_HR(c.expected, invoke(init.get(), c.info));
    EXPECT_EQ(c.expected == S_OK ? 1u : 0u, calls.size()) << "consoles started";
  }
}

TEST_F(ConsoleLaunch, WithoutAFolderEveryCommandIsRefused) {
  auto never = createHandler();  // never initialised
  auto refused = handlerFor({temp_.makeFile(L"file.txt")}, E_INVALIDARG);
  for (IShellExtInit* init : {never.get(), refused.get()}) {
    EXPECT_HR(E_INVALIDARG, invoke(init, offset(0)));
    EXPECT_HR(E_INVALIDARG, invoke(init, record(sizeof(CMINVOKECOMMANDINFO), 0, "Dorvanel")));
    EXPECT_HR(E_INVALIDARG, invoke(init, record(sizeof(CMINVOKECOMMANDINFO), 0, "open")));
    // Browse mode shows no dialog either (none could be answered here).
    Access::setBrowseMode(init, true);
    EXPECT_HR(E_INVALIDARG, invoke(init, offset(0)));
  }
  EXPECT_HR(E_INVALIDARG, static_cast<IContextMenu*>(Access::object(never.get()))->InvokeCommand(nullptr));
  EXPECT_EQ(0u, calls.size());
}

TEST_F(ConsoleLaunch, StartsRealConsolesWithExactArguments) {
  mode = Mode::real;
  const std::wstring blanks = temp_.makeFolder(L"with blanks");
  const std::wstring longForm = L"\\\\?\\" + folder_;
  UncShare share;
  struct Case {
    std::wstring folder;
    bool uncCheckDisabled;
    std::wstring commandLine;
    std::wstring childFolder;  // empty: Wine does not let a child start there
  };
  std::vector<Case> cases = {
      {folder_, false, L"", folder_},
      {L"C:\\", false, L"", L"C:\\"},
      {blanks, false, L"", blanks},
      {longForm, false, L"/s /k pushd \"" + longForm + L"\"", folder_},  // Wine drops the prefix
      {longForm, true, L"", folder_},
  };
  if (share.available()) {
    // Wine cannot start a child in a UNC folder; it starts it in C:\windows.
    cases.push_back(
        {L"\\\\dorvanel-srv\\pub\\sub", false, L"/s /k pushd \"\\\\dorvanel-srv\\pub\\sub\"", L""});
    cases.push_back({L"\\\\dorvanel-srv\\pub\\sub", true, L"", L""});
    cases.push_back({L"\\\\dorvanel-srv\\pub\\my folder", false,
                     L"/s /k pushd \"\\\\dorvanel-srv\\pub\\my folder\"", L""});
  } else {
    std::printf("no UNC share in this prefix: the UNC cases are left out\n");
  }
  const std::wstring quotedProbe = L"\"" + probe_.probePath() + L"\"";
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(narrow(c.folder) + (c.uncCheckDisabled ? ", UNC check disabled" : ""));
    auto init = handlerFor({c.folder});
    Access::setUncCheckDisabled(init.get(), c.uncCheckDisabled);
    calls.clear();
    ASSERT_HR(S_OK, invoke(init.get(), offset(0)));
    ASSERT_EQ(1u, calls.size());
    const Call& call = calls[0];
    EXPECT_EQ(probe_.probePath(), call.application.value_or(L"(null)"));
    ASSERT_TRUE(call.commandLine.has_value()) << "an empty command line is passed as \"\", never null";
    EXPECT_EQ(narrow(c.commandLine), narrow(*call.commandLine));
    EXPECT_TRUE(call.commandLineWritable);
    EXPECT_TRUE(call.processAttributesNull);
    EXPECT_TRUE(call.threadAttributesNull);
    EXPECT_EQ(FALSE, call.inheritHandles);
    EXPECT_EQ(0x04000010u, call.flags);
    EXPECT_TRUE(call.environmentNull);
    EXPECT_EQ(narrow(c.folder), narrow(call.directory.value_or(L"(null)")));
    STARTUPINFOW expectedStartup{};
    expectedStartup.cb = sizeof expectedStartup;
    EXPECT_EQ(0, memcmp(&expectedStartup, &call.startup, sizeof expectedStartup)) << "all zero but cb";
    EXPECT_EQ(0u, call.error);
    EXPECT_FALSE(handleIsOpen(call.process)) << "process handle closed at once";
    EXPECT_FALSE(handleIsOpen(call.thread)) << "thread handle closed at once";

    const auto lines = probe_.waitForLines(i + 1);
    ASSERT_EQ(i + 1, lines.size());
    const auto& [childFolder, childCommandLine] = lines[i];
    if (!c.childFolder.empty()) {
      EXPECT_EQ(narrow(c.childFolder), narrow(childFolder));
    }
    if (c.commandLine.empty()) {
      // Windows gives the child the empty line itself; Wine gives it the
      // quoted program path, as for a null one.
      EXPECT_TRUE(childCommandLine.empty() || childCommandLine == quotedProbe) << narrow(childCommandLine);
    } else {
      EXPECT_EQ(narrow(c.commandLine), narrow(childCommandLine));
    }
  }
}

TEST_F(ConsoleLaunch, OpensOnlyTheFirstOfSeveralFolders) {
  const std::wstring other = temp_.makeFolder(L"other");
  auto init = handlerFor({other, folder_}, E_INVALIDARG);
  EXPECT_HR(S_OK, invoke(init.get(), offset(0)));
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(narrow(other), narrow(calls[0].directory.value_or(L"(null)")));
}

TEST_F(ConsoleLaunch, StartsAConsoleEachTimeFromTheSameState) {
  auto init = handlerFor({folder_});
  EXPECT_HR(S_OK, invoke(init.get(), offset(0)));
  EXPECT_HR(S_OK, invoke(init.get(), record(sizeof(CMINVOKECOMMANDINFO), 0, "Dorvanel")));
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(calls[0].directory, calls[1].directory);
  EXPECT_EQ(narrow(folder_), narrow(Access::folders(init.get()).at(0)));
}

// A console that does not start is reported with the start's error, where
// it used to be hidden behind S_OK.
TEST_F(ConsoleLaunch, FailedStartIsReportedWithItsError) {
  mode = Mode::real;
  struct Case {
    const char* what;
    const wchar_t* comspec;  // null: the variable is missing
    bool removeFolder;
  };
  const std::wstring missingProgram = temp_.path() + L"\\no such program.exe";
  const Case cases[] = {
      {"no comspec", nullptr, false},
      {"comspec names a missing file", missingProgram.c_str(), false},
      {"the folder is gone", probe_.probePath().c_str(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    handler_testing::setComspec(c.comspec);
    const std::wstring folder = temp_.makeFolder(L"going");
    auto init = handlerFor({folder});
    if (c.removeFolder) {
      ASSERT_TRUE(RemoveDirectoryW(folder.c_str()));
    }
    calls.clear();
    const HRESULT hr = invoke(init.get(), offset(0));
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(narrow(c.comspec != nullptr ? c.comspec : L""),
              narrow(calls[0].application.value_or(L"(null)")))
        << "an empty path is passed as \"\", never null";
    EXPECT_NE(0u, calls[0].error);
    std::printf("%s: error %lu\n", c.what, static_cast<unsigned long>(calls[0].error));
    EXPECT_HR(HRESULT_FROM_WIN32(calls[0].error), hr);
  }
  EXPECT_TRUE(probe_.lines().empty());

  mode = Mode::fakeFailure;
  handler_testing::setComspec(probe_.probePath().c_str());
  auto init = handlerFor({folder_});
  fakeError = ERROR_ACCESS_DENIED;
  EXPECT_HR(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), invoke(init.get(), offset(0)));
  fakeError = 0;  // a failure that does not say why
  EXPECT_HR(E_FAIL, invoke(init.get(), offset(0)));
}

TEST_F(ConsoleLaunch, OutOfMemoryStartsNothing) {
  const std::wstring longForm = L"\\\\?\\" + folder_;
  for (const std::wstring& folder : {folder_, longForm}) {
    SCOPED_TRACE(narrow(folder));
    auto init = handlerFor({folder});
    int failedPoints = 0;
    for (long successes = 0;; ++successes) {
      ASSERT_LT(successes, 20) << "InvokeCommand never succeeded";
      calls.clear();
      const long live = platform::liveAllocationCount();
      platform::failAllocationAfter(successes);
      const HRESULT hr = invoke(init.get(), offset(0));
      platform::failAllocationAfter(-1);
      if (hr == S_OK) {
        EXPECT_EQ(1u, calls.size());
        break;
      }
      ++failedPoints;
      EXPECT_HR(E_OUTOFMEMORY, hr) << "allocation " << successes;
      EXPECT_EQ(0u, calls.size()) << "allocation " << successes;
      EXPECT_EQ(live, platform::liveAllocationCount()) << "leaked at allocation " << successes;
    }
    EXPECT_EQ(2, failedPoints) << "the working folder and the command line";
    EXPECT_EQ(narrow(folder), narrow(Access::folders(init.get()).at(0)));
  }
}

}  // namespace

namespace {

// Answers the folder dialogs of this process from a second thread while the
// test's thread sits in InvokeCommand: selects `choice` and presses OK, or
// cancels when there is no choice. Records each dialog's owner.
class DialogDriver {
 public:
  explicit DialogDriver(std::optional<std::wstring> choice) : choice_(std::move(choice)) {
    thread_ = std::thread([this] { run(); });
  }
  ~DialogDriver() {
    stop_ = true;
    thread_.join();
  }
  int dialogs() const { return dialogs_; }
  HWND lastOwner() const { return lastOwner_; }

 private:
  static HWND findDialog() {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window != nullptr;
         window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
      DWORD process = 0;
      GetWindowThreadProcessId(window, &process);
      if (process == GetCurrentProcessId() && IsWindowVisible(window)) {
        return window;
      }
    }
    return nullptr;
  }
  void run() {
    while (!stop_) {
      HWND dialog = findDialog();
      if (dialog == nullptr) {
        Sleep(20);
        continue;
      }
      ++dialogs_;
      lastOwner_ = GetWindow(dialog, GW_OWNER);
      // A dialog that is still settling may not take the selection or the
      // button yet (on a busy machine): answer again until it goes, within
      // bounds, so that one dialog is never counted twice.
      for (int answer = 0; answer < 25 && IsWindow(dialog); ++answer) {
        if (choice_) {
          SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(choice_->c_str()));
          PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        } else {
          PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
        for (int attempt = 0; attempt < 50 && IsWindow(dialog); ++attempt) {
          Sleep(20);
        }
      }
    }
  }

  std::optional<std::wstring> choice_;
  std::atomic<bool> stop_{false};
  std::atomic<int> dialogs_{0};
  std::atomic<HWND> lastOwner_{nullptr};
  std::thread thread_;
};

// The folder dialog of browse mode. It needs a display (make test runs the
// suites under Xvfb); browse mode's writer, QueryContextMenu, is not used
// here: the test sets the field itself.
class BrowseLaunch : public ConsoleLaunch {
 protected:
  void SetUp() override {
    ConsoleLaunch::SetUp();
    ASSERT_HR(S_OK, OleInitialize(nullptr));  // the new dialog style needs OLE
    tools_ = temp_.makeFolder(L"work\\Tools");
    // Wine compares item-ID lists byte by byte, and a folder's first listing
    // changes its times: list the folders once so that selecting by path
    // below a root finds the item the dialog shows.
    for (std::wstring folder = tools_; folder.size() > 3; folder.resize(folder.find_last_of(L'\\'))) {
      listOnce(folder);
    }
    listOnce(L"C:");
    owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(nullptr, owner_);
  }
  void TearDown() override {
    DestroyWindow(owner_);
    OleUninitialize();
    ConsoleLaunch::TearDown();
  }
  static void listOnce(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      while (FindNextFileW(find, &data)) {
      }
      FindClose(find);
    }
  }
  CMINVOKECOMMANDINFOEX ownedOffset(UINT_PTR value, HWND owner) const {
    CMINVOKECOMMANDINFOEX info = offset(value);
    info.hwnd = owner;
    return info;
  }

  std::wstring tools_;
  HWND owner_ = nullptr;
};

TEST_F(BrowseLaunch, StartsInTheChosenSubfolder) {
  auto init = handlerFor({folder_});
  Access::setBrowseMode(init.get(), true);
  {
    DialogDriver driver(tools_);
    EXPECT_HR(S_OK, invoke(init.get(), ownedOffset(0, owner_)));
    EXPECT_EQ(1, driver.dialogs());
    EXPECT_EQ(owner_, driver.lastOwner()) << "owned by the record's window";
  }
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(narrow(tools_), narrow(calls[0].directory.value_or(L"(null)")));
  EXPECT_EQ("", narrow(calls[0].commandLine.value_or(L"(null)")));
  EXPECT_EQ(narrow(folder_), narrow(Access::folders(init.get()).at(0))) << "the choice is not remembered";
}

TEST_F(BrowseLaunch, CancelledDialogStartsNothing) {
  auto init = handlerFor({folder_});
  Access::setBrowseMode(init.get(), true);
  DialogDriver driver(std::nullopt);
  EXPECT_HR(S_OK, invoke(init.get(), ownedOffset(0, nullptr)));
  EXPECT_EQ(1, driver.dialogs());
  EXPECT_EQ(nullptr, driver.lastOwner()) << "no window in the record, no owner";
  // CMIC_MASK_FLAG_NO_UI does not suppress the dialog.
  CMINVOKECOMMANDINFOEX quiet = ownedOffset(0, owner_);
  quiet.fMask = CMIC_MASK_FLAG_NO_UI;
  EXPECT_HR(S_OK, invoke(init.get(), quiet));
  EXPECT_EQ(2, driver.dialogs());
  // A foreign command shows no dialog at all.
  EXPECT_HR(E_INVALIDARG, invoke(init.get(), ownedOffset(1, owner_)));
  EXPECT_EQ(2, driver.dialogs());
  EXPECT_EQ(0u, calls.size());
}

// The pushd test is made on the chosen folder, not on the selected one: a
// \\?\ folder (which has no item-ID list, so the dialog starts at the
// desktop) gives way to a plain local choice.
TEST_F(BrowseLaunch, CommandLineFollowsTheChosenFolder) {
  auto init = handlerFor({L"\\\\?\\" + folder_});
  Access::setBrowseMode(init.get(), true);
  {
    DialogDriver driver(tools_);
    EXPECT_HR(S_OK, invoke(init.get(), ownedOffset(0, owner_)));
    EXPECT_EQ(1, driver.dialogs());
  }
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(narrow(tools_), narrow(calls[0].directory.value_or(L"(null)")));
  EXPECT_EQ("", narrow(calls[0].commandLine.value_or(L"(null)")));
}

}  // namespace
