// Self-registration of the built Dorvanel.DLL: through the real regsvr32 and
// through its exports, with the registry read back through the real API.

#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

#include "registry_snapshot.h"
#include "script_render.h"
#include "support/test_support.h"

using registry_test::describe;
using registry_test::expectedRegistration;
using registry_test::keyExists;
using registry_test::registrationSnapshot;
using registry_test::Snapshot;
using testing_support::dllPath;

namespace {

const CLSID clsidCmdPrompt = {0x6D0C4A27, 0x3B91, 0x4E58, {0x9F, 0x2A, 0x71, 0xC5, 0xE0, 0x8D, 0x3B, 0x46}};

// Runs Wine's (or Windows') regsvr32 and returns its exit code: 0 success,
// 3 the DLL would not load, 4 the export is missing, 5 the function failed.
DWORD regsvr32(const std::wstring& dll, bool unregister) {
  std::wstring command = L"regsvr32.exe /s " + std::wstring(unregister ? L"/u " : L"") + L"\"" + dll + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "regsvr32 did not start, error " << GetLastError();
    return 0xFFFFFFFF;
  }
  // A bound, not a timing assertion: regsvr32 that hangs fails the test clearly.
  const DWORD wait = WaitForSingleObject(process.hProcess, 120000);
  DWORD code = 0xFFFFFFFF;
  if (wait == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    ADD_FAILURE() << "regsvr32 did not finish within 120 s";
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    dll_ = dllPath();
    ASSERT_FALSE(dll_.empty()) << "Dorvanel.DLL not found above the test program";
    registry_test::removeRegistration();
  }
  void TearDown() override { registry_test::removeRegistration(); }

  std::wstring dll_;
};

TEST_F(Registration, Regsvr32WritesExactlyTheClassAndItsHandlersAndRemovesThemAgain) {
  ASSERT_EQ(0u, regsvr32(dll_, false));
  const Snapshot once = registrationSnapshot();
  EXPECT_EQ(expectedRegistration(dll_), once) << "registry holds:\n" << describe(once);
  for (const std::wstring& key : registry_test::sharedKeys()) {
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, key)) << testing_support::narrow(key);
  }

  // Registering again replaces each entry: the same content as once.
  ASSERT_EQ(0u, regsvr32(dll_, false));
  EXPECT_EQ(once, registrationSnapshot()) << "registry holds:\n" << describe(registrationSnapshot());

  ASSERT_EQ(0u, regsvr32(dll_, true));
  EXPECT_EQ(Snapshot{}, registrationSnapshot()) << "left behind:\n" << describe(registrationSnapshot());
  for (const std::wstring& key : registry_test::sharedKeys()) {
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, key)) << testing_support::narrow(key) << " was removed";
  }

  // Nothing registered: unregistering skips every missing key.
  EXPECT_EQ(0u, regsvr32(dll_, true));
  EXPECT_EQ(Snapshot{}, registrationSnapshot());
}

TEST_F(Registration, AForeignSubkeyGoesOnRegistrationAndKeepsTheClassKeyOnUnregistration) {
  ASSERT_EQ(0u, regsvr32(dll_, false));
  const std::wstring foreign = std::wstring(registry_test::classKey) + L"\\Foreign";
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, foreign.c_str(), 0, nullptr, 0, KEY_WRITE,
                                           nullptr, &key, nullptr));
  RegCloseKey(key);

  ASSERT_EQ(0u, regsvr32(dll_, false));
  EXPECT_EQ(expectedRegistration(dll_), registrationSnapshot()) << "registry holds:\n"
                                                                << describe(registrationSnapshot());

  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, foreign.c_str(), 0, nullptr, 0, KEY_WRITE,
                                           nullptr, &key, nullptr));
  RegCloseKey(key);
  ASSERT_EQ(0u, regsvr32(dll_, true));
  // The class key stays for its foreign subkey, with its own default value.
  const Snapshot left = {{registry_test::classKey, L""},
                         {std::wstring(registry_test::classKey) + L":", L"REG_SZ CmdPrompt Class|"},
                         {foreign, L""}};
  EXPECT_EQ(left, registrationSnapshot()) << "registry holds:\n" << describe(registrationSnapshot());
}

TEST_F(Registration, AClassRegisteredByRegsvr32CanBeCreated) {
  ASSERT_EQ(0u, regsvr32(dll_, false));
  ASSERT_HR(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  IShellExtInit* init = nullptr;
  const HRESULT hr = CoCreateInstance(clsidCmdPrompt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                      reinterpret_cast<void**>(&init));
  EXPECT_HR(S_OK, hr);
  ASSERT_NE(nullptr, init);
  IContextMenu* menu = nullptr;
  EXPECT_HR(S_OK, init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)));
  if (menu != nullptr) {
    menu->Release();
  }
  init->Release();

  // Unregistered, the class is unknown to COM again.
  ASSERT_EQ(0u, regsvr32(dll_, true));
  init = nullptr;
  EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(clsidCmdPrompt, nullptr, CLSCTX_INPROC_SERVER,
                                                  IID_IShellExtInit, reinterpret_cast<void**>(&init)));
  EXPECT_EQ(nullptr, init);
  CoUninitialize();
}

TEST_F(Registration, ACopyInAFolderWithAnApostropheRegistersItsExactPath) {
  testing_support::TempFolder temp;
  // Also a percent sign, which the script must not take for a replacement,
  // and letters outside any ANSI code page the script is read with.
  const std::wstring folder = temp.makeFolder(L"it's 100% \x0436\x00E9 here");
  const std::wstring copy = folder + L"\\Dorvanel.DLL";
  ASSERT_TRUE(CopyFileW(dll_.c_str(), copy.c_str(), FALSE)) << "error " << GetLastError();

  ASSERT_EQ(0u, regsvr32(copy, false));
  EXPECT_EQ(expectedRegistration(copy), registrationSnapshot()) << "registry holds:\n"
                                                                << describe(registrationSnapshot());
  EXPECT_EQ(0u, regsvr32(copy, true));
  EXPECT_EQ(Snapshot{}, registrationSnapshot());
}

// The exports called in-process, on a copy of the DLL at a path of the
// given length.
class LoadedCopy {
 public:
  LoadedCopy(const testing_support::TempFolder& temp, const std::wstring& dll, size_t pathLength) {
    // Folders of at most 100 characters until the path has the right length.
    std::wstring folder = temp.path();
    const std::wstring file = L"\\Dorvanel.DLL";
    while (folder.size() + file.size() < pathLength) {
      const size_t room = pathLength - folder.size() - file.size();
      const size_t part = room > 101 ? 100 : room - 1;
      if (part == 0) {
        ADD_FAILURE() << "cannot reach a path of " << pathLength << " characters";
        return;
      }
      folder += L"\\" + std::wstring(part, L'd');
      // Long folders need the \\?\ form to be made.
      CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
    }
    path_ = folder + file;
    EXPECT_EQ(pathLength, path_.size());
    EXPECT_TRUE(CopyFileW(dll.c_str(), (L"\\\\?\\" + path_).c_str(), FALSE))
        << "copy failed, error " << GetLastError();
    module_ = LoadLibraryW(path_.c_str());
    EXPECT_NE(nullptr, module_) << "LoadLibraryW failed, error " << GetLastError();
  }
  ~LoadedCopy() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }
  HRESULT call(const char* name) const {
    auto function =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    return function != nullptr ? function() : E_NOTIMPL;
  }
  bool loaded() const { return module_ != nullptr; }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  HMODULE module_ = nullptr;
};

TEST_F(Registration, APathOf260CharactersFailsWithInsufficientBufferAndWritesNothing) {
  testing_support::TempFolder temp;
  {
    // 259 characters fit the module-path buffer with its terminator.
    LoadedCopy longest(temp, dll_, 259);
    ASSERT_TRUE(longest.loaded());
    EXPECT_HR(S_OK, longest.call("DllRegisterServer"));
    EXPECT_EQ(expectedRegistration(longest.path()), registrationSnapshot())
        << "registry holds:\n"
        << describe(registrationSnapshot());
    EXPECT_HR(S_OK, longest.call("DllUnregisterServer"));
  }
  for (size_t length : {260u, 300u}) {
    registry_test::removeRegistration();
    const Snapshot shared = registry_test::snapshot(HKEY_CLASSES_ROOT, L"Drive");
    LoadedCopy tooLong(temp, dll_, length);
    ASSERT_TRUE(tooLong.loaded());
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), tooLong.call("DllRegisterServer")) << length;
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), tooLong.call("DllUnregisterServer")) << length;
    EXPECT_EQ(Snapshot{}, registrationSnapshot()) << length << " wrote:\n"
                                                  << describe(registrationSnapshot());
    EXPECT_EQ(shared, registry_test::snapshot(HKEY_CLASSES_ROOT, L"Drive")) << length;
  }
}

TEST_F(Registration, BothCallsGiveTheThreadItsLocaleBack) {
  testing_support::TempFolder temp;
  LoadedCopy copy(temp, dll_, temp.path().size() + 13);
  ASSERT_TRUE(copy.loaded());
  const LCID original = GetThreadLocale();
  for (LCID locale : {LCID{0x0419}, LCID{0x0407}}) {
    ASSERT_TRUE(SetThreadLocale(locale));
    EXPECT_HR(S_OK, copy.call("DllRegisterServer"));
    EXPECT_EQ(locale, GetThreadLocale()) << "after DllRegisterServer";
    EXPECT_HR(S_OK, copy.call("DllUnregisterServer"));
    EXPECT_EQ(locale, GetThreadLocale()) << "after DllUnregisterServer";
  }
  SetThreadLocale(original);
}

// The script resources as the DLL holds them: language 0x0009, plain ASCII,
// CR LF line ends, no byte-order mark and no terminating null.
TEST(RegistryScriptResources, AreAsciiWithCrLfInEnglishNeutral) {
  HMODULE data = LoadLibraryExW(dllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, data) << "error " << GetLastError();
  const std::string module = "HKCR{ }";
  const std::string cmdPrompt =
      "HKCR{ N:CLSID{ F:{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}=s:CmdPrompt Class{ "
      "InprocServer32=s:%MODULE%{ val:ThreadingModel=s:Apartment } } } "
      "N:Folder{ N:shellex{ N:ContextMenuHandlers{ F:CmdPrompt=s:{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}{ } } "
      "} } "
      "N:Directory{ N:shellex{ N:ContextMenuHandlers{ F:CmdPrompt=s:{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}{ "
      "} } } "
      "N:Background{ N:shellex{ N:ContextMenuHandlers{ F:CmdPrompt=s:{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}{ "
      "} } } } } "
      "N:Drive{ N:shellex{ N:ContextMenuHandlers{ F:CmdPrompt=s:{6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}{ } } "
      "} } }";
  const struct {
    WORD id;
    const std::string& structure;
  } scripts[] = {{101, module}, {102, cmdPrompt}};
  for (const auto& script : scripts) {
    HRSRC resource = FindResourceExW(data, L"REGISTRY", MAKEINTRESOURCEW(script.id),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL));
    ASSERT_NE(nullptr, resource) << script.id << " in language 0x0009";
    const DWORD size = SizeofResource(data, resource);
    const auto bytes = static_cast<const char*>(LockResource(LoadResource(data, resource)));
    ASSERT_NE(nullptr, bytes);
    const std::string text(bytes, size);
    ASSERT_GE(text.size(), 4u) << script.id;
    EXPECT_NE("\xEF\xBB\xBF", text.substr(0, 3)) << script.id << " starts with a byte-order mark";
    EXPECT_EQ("}\r\n", text.substr(text.size() - 3)) << script.id << " ends in a null or without CR LF";
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      EXPECT_TRUE((c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r' || c == '\n')
          << script.id << ": byte 0x" << std::hex << int{c} << " at " << std::dec << i;
      if (c == '\n') {
        EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << script.id << ": bare LF at " << i;
      }
      if (c == '\r') {
        EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << script.id << ": bare CR at " << i;
      }
    }
    EXPECT_EQ(script.structure, script_test::render(script_test::widen(text))) << script.id;
  }
  FreeLibrary(data);
}

}  // namespace
