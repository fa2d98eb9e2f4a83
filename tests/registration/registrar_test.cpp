// The registrar in-process: faults injected through its registry access,
// rollback, the script format's value types and markers, code pages, and
// self-registration as the module's own code runs it.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/memory.h"
#include "registry_snapshot.h"
#include "script_render.h"
#include "server/registrar.h"
#include "server/registration.h"
#include "support/test_support.h"

using registry_test::describe;
using registry_test::keyExists;
using registry_test::registrationSnapshot;
using registry_test::Snapshot;

namespace {

const std::wstring testKey = L"Software\\DorvanelRegistrarTest";

// The real registry, with one change (the `failAt`th, counting from 0, of
// the kind named, or of any kind when none is named) failing with `error`;
// every later call passes through so that the rollback can run.
class FaultyAccess : public server::RegistryAccess {
 public:
  explicit FaultyAccess(long failAt, std::wstring kind = L"") : failAt_(failAt), kind_(std::move(kind)) {}

  LONG createKey(HKEY parent, const wchar_t* name, HKEY* key) noexcept override {
    return fault(L"createKey", name) ? error_ : RegistryAccess::createKey(parent, name, key);
  }
  LONG openKey(HKEY parent, const wchar_t* name, HKEY* key) noexcept override {
    calls.push_back(std::wstring(L"openKey ") + name);
    return RegistryAccess::openKey(parent, name, key);
  }
  LONG deleteTree(HKEY parent, const wchar_t* name) noexcept override {
    return fault(L"deleteTree", name) ? error_ : RegistryAccess::deleteTree(parent, name);
  }
  LONG deleteKey(HKEY parent, const wchar_t* name) noexcept override {
    return fault(L"deleteKey", name) ? error_ : RegistryAccess::deleteKey(parent, name);
  }
  LONG setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) noexcept override {
    return fault(L"setValue", name != nullptr ? name : L"(default)")
               ? error_
               : RegistryAccess::setValue(key, name, type, data, size);
  }
  LONG deleteValue(HKEY key, const wchar_t* name) noexcept override {
    return fault(L"deleteValue", name) ? error_ : RegistryAccess::deleteValue(key, name);
  }

  bool failed() const { return failed_; }
  std::vector<std::wstring> calls;
  std::vector<LCID> locales;  // the thread's locale at each change

 private:
  bool fault(const wchar_t* kind, const wchar_t* name) {
    calls.push_back(std::wstring(kind) + L" " + name);
    locales.push_back(GetThreadLocale());
    if (failed_ || (!kind_.empty() && kind_ != kind)) {
      return false;
    }
    if (seen_++ == failAt_) {
      failed_ = true;
      return true;
    }
    return false;
  }

  long failAt_;
  std::wstring kind_;
  long seen_ = 0;
  bool failed_ = false;
  LONG error_ = ERROR_ACCESS_DENIED;
};

// Puts an access in place for the scope's lifetime.
class AccessScope {
 public:
  explicit AccessScope(server::RegistryAccess* access) : previous_(server::setRegistryAccess(access)) {}
  ~AccessScope() { server::setRegistryAccess(previous_); }

 private:
  server::RegistryAccess* previous_;
};

std::wstring programPath() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
}

HRESULT apply(const std::string& script, bool doRegister,
              const std::vector<std::pair<std::u16string, std::u16string>>& map = {}) {
  std::vector<server::script::Replacement> replacements;
  for (const auto& [name, value] : map) {
    replacements.push_back({name.data(), name.size(), value.data(), value.size()});
  }
  const std::u16string text = script_test::widen(script);
  return server::applyRegistryScript(text.data(), text.size(), replacements.data(), replacements.size(),
                                     doRegister);
}

void createKey(const std::wstring& path) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                           &key, nullptr));
  RegCloseKey(key);
}

class Registrar : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_test::removeRegistration();
    RegDeleteTreeW(HKEY_CURRENT_USER, testKey.c_str());
  }
  void TearDown() override {
    registry_test::removeRegistration();
    RegDeleteTreeW(HKEY_CURRENT_USER, testKey.c_str());
  }
};

TEST_F(Registrar, ARegistrationThatFailsAtAnyChangeIsUndoneAndReturnsTheError) {
  for (bool registeredBefore : {false, true}) {
    long failAt = 0;
    for (;; ++failAt) {
      registry_test::removeRegistration();
      if (registeredBefore) {
        ASSERT_HR(S_OK, server::registerServer());
      }
      FaultyAccess access(failAt);
      HRESULT hr;
      {
        AccessScope scope(&access);
        hr = server::registerServer();
      }
      if (!access.failed()) {
        EXPECT_HR(S_OK, hr);
        EXPECT_EQ(registry_test::expectedRegistration(programPath()), registrationSnapshot());
        break;
      }
      EXPECT_HR(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), hr) << "change " << failAt;
      // The failed block ran as an unregistration: nothing of the class is left.
      EXPECT_EQ(Snapshot{}, registrationSnapshot()) << "change " << failAt << " left:\n"
                                                    << describe(registrationSnapshot());
      for (const std::wstring& key : registry_test::sharedKeys()) {
        EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, key))
            << testing_support::narrow(key) << ", change " << failAt;
      }
    }
    // Each ForceRemove, key and value of the class script is a change.
    EXPECT_GE(failAt, 14) << "registeredBefore " << registeredBefore;
  }
}

TEST_F(Registrar, EveryAllocationFailureIsOutOfMemoryLeaksNothingAndLeavesNoPartialRegistration) {
  long successes = 0;
  for (;; ++successes) {
    registry_test::removeRegistration();
    const long live = platform::liveAllocationCount();
    platform::failAllocationAfter(successes);
    const HRESULT hr = server::registerServer();
    platform::failAllocationAfter(-1);
    EXPECT_EQ(live, platform::liveAllocationCount())
        << "blocks leaked with allocation " << successes << " failing";
    if (hr == S_OK) {
      EXPECT_EQ(registry_test::expectedRegistration(programPath()), registrationSnapshot());
      break;
    }
    EXPECT_HR(E_OUTOFMEMORY, hr) << "allocation " << successes;
    EXPECT_EQ(Snapshot{}, registrationSnapshot()) << "allocation " << successes << " failing left:\n"
                                                  << describe(registrationSnapshot());
  }
  EXPECT_GT(successes, 10);

  for (successes = 0;; ++successes) {
    ASSERT_HR(S_OK, server::registerServer());
    const long live = platform::liveAllocationCount();
    platform::failAllocationAfter(successes);
    const HRESULT hr = server::unregisterServer();
    platform::failAllocationAfter(-1);
    EXPECT_EQ(live, platform::liveAllocationCount())
        << "blocks leaked with allocation " << successes << " failing";
    if (hr == S_OK) {
      EXPECT_EQ(Snapshot{}, registrationSnapshot());
      break;
    }
    EXPECT_HR(E_OUTOFMEMORY, hr) << "allocation " << successes;
  }
  EXPECT_GT(successes, 10);
}

TEST_F(Registrar, AnUnregistrationStopsAtAFailedDeletionAndKeepsWhatItDeleted) {
  ASSERT_HR(S_OK, server::registerServer());
  FaultyAccess access(2, L"deleteKey");  // InprocServer32, the class key, then Folder's handler
  {
    AccessScope scope(&access);
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), server::unregisterServer());
  }
  ASSERT_TRUE(access.failed());
  Snapshot expected = registry_test::expectedRegistration(programPath());
  for (auto it = expected.begin(); it != expected.end();) {
    it = it->first.rfind(L"CLSID", 0) == 0 ? expected.erase(it) : std::next(it);
  }
  EXPECT_EQ(expected, registrationSnapshot()) << "registry holds:\n" << describe(registrationSnapshot());
  EXPECT_HR(S_OK, server::unregisterServer());
  EXPECT_EQ(Snapshot{}, registrationSnapshot());
}

TEST_F(Registrar, TheScriptsRunInTheSystemLocaleAndTheCallerGetsItsOwnBack) {
  const LCID original = GetThreadLocale();
  const LCID callerLocale = GetSystemDefaultLCID() == 0x0419 ? 0x0407 : 0x0419;
  ASSERT_TRUE(SetThreadLocale(callerLocale));
  FaultyAccess observer(-1);
  {
    AccessScope scope(&observer);
    EXPECT_HR(S_OK, server::registerServer());
    EXPECT_EQ(callerLocale, GetThreadLocale());
    EXPECT_HR(S_OK, server::unregisterServer());
    EXPECT_EQ(callerLocale, GetThreadLocale());
  }
  SetThreadLocale(original);
  ASSERT_FALSE(observer.locales.empty());
  for (LCID seen : observer.locales) {
    EXPECT_EQ(GetSystemDefaultLCID(), seen) << "thread locale during a registry change";
  }
}

TEST_F(Registrar, WritesEveryValueTypeAndRemovesWhatTheScriptOwns) {
  const std::string script =
      "HKCU { NoRemove Software { ForceRemove DorvanelRegistrarTest = s 'it''s' {"
      " val E = e '%%TEMP%%\\x' val M = m 'one\\0two' val D = d '0x1234' val Q = q '4294967296'"
      " val B = b '00ff10' val S = s '%name%' val '' = s 'replaced default' Sub { val Kept = s 'k' } } } }";
  ASSERT_HR(S_OK, apply(script, true, {{u"NAME", u"Value"}}));
  const std::wstring k = L"Software\\DorvanelRegistrarTest";
  const Snapshot expected = {
      {k, L""},
      {k + L":", L"REG_SZ replaced default|"},
      {k + L":E", L"REG_EXPAND_SZ %TEMP%\\x|"},
      {k + L":M", L"REG_MULTI_SZ one|two||"},
      {k + L":D", L"REG_DWORD 4660"},
      {k + L":Q", L"REG_QWORD 4294967296"},
      {k + L":B", L"REG_BINARY 00ff10"},
      {k + L":S", L"REG_SZ Value|"},
      {k + L"\\Sub", L""},
      {k + L"\\Sub:Kept", L"REG_SZ k|"},
  };
  EXPECT_EQ(expected, registry_test::snapshot(HKEY_CURRENT_USER, k))
      << describe(registry_test::snapshot(HKEY_CURRENT_USER, k));
  ASSERT_HR(S_OK, apply(script, false, {{u"NAME", u"Value"}}));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, k));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, L"Software"));
}

TEST_F(Registrar, NoRemoveValuesAndKeysStayAndDeleteRemovesATree) {
  createKey(testKey + L"\\Old\\Deep");
  const std::string script =
      "HKCU { NoRemove Software { NoRemove DorvanelRegistrarTest { Delete Old"
      " val Gone = s 'x' NoRemove val Stays = s 'y' } } }";
  ASSERT_HR(S_OK, apply(script, true));
  const Snapshot registered = {
      {testKey, L""}, {testKey + L":Gone", L"REG_SZ x|"}, {testKey + L":Stays", L"REG_SZ y|"}};
  EXPECT_EQ(registered, registry_test::snapshot(HKEY_CURRENT_USER, testKey))
      << describe(registry_test::snapshot(HKEY_CURRENT_USER, testKey));
  ASSERT_HR(S_OK, apply(script, false));
  const Snapshot unregistered = {{testKey, L""}, {testKey + L":Stays", L"REG_SZ y|"}};
  EXPECT_EQ(unregistered, registry_test::snapshot(HKEY_CURRENT_USER, testKey))
      << describe(registry_test::snapshot(HKEY_CURRENT_USER, testKey));
}

TEST_F(Registrar, AScriptThatDoesNotParseChangesNothing) {
  const char* scripts[] = {
      // A good block before a broken one: neither is applied.
      "HKCU { NoRemove Software { DorvanelRegistrarTest = s 'x' } } HKCU { NoRemove Software { A = s 'open",
      "HKCU { NoRemove Software { DorvanelRegistrarTest = s '%UNKNOWN%' } }",
      "HKCU { NoRemove Software { DorvanelRegistrarTest = s '%MODULE' } }",
      "HKCU { NoRemove Software { DorvanelRegistrarTest = d 'many' } }",
      "HKCU { NoRemove Software { DorvanelRegistrarTest { } }",
  };
  for (const char* script : scripts) {
    FaultyAccess observer(-1);
    HRESULT hr;
    {
      AccessScope scope(&observer);
      hr = apply(script, true, {{u"Module", u"C:\\x.dll"}});
    }
    EXPECT_HR(DISP_E_EXCEPTION, hr) << script;
    EXPECT_TRUE(observer.calls.empty())
        << script << ": first call " << testing_support::narrow(observer.calls[0]);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, testKey)) << script;
  }
}

TEST_F(Registrar, OnlyTheRootBlockThatFailedIsUndone) {
  createKey(testKey);
  const std::string script =
      "HKCU { NoRemove Software { NoRemove DorvanelRegistrarTest { First } } }"
      " HKCU { NoRemove Software { NoRemove DorvanelRegistrarTest { Second = s 's' { Inner } } } }";
  // createKey: Software, the test key, First; Software, the test key, Second, Inner.
  FaultyAccess access(6, L"createKey");
  {
    AccessScope scope(&access);
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), apply(script, true));
  }
  ASSERT_TRUE(access.failed());
  const Snapshot expected = {{testKey, L""}, {testKey + L"\\First", L""}};
  EXPECT_EQ(expected, registry_test::snapshot(HKEY_CURRENT_USER, testKey))
      << describe(registry_test::snapshot(HKEY_CURRENT_USER, testKey));
}

TEST_F(Registrar, TheScriptIsReadWithTheThreadsAnsiCodePage) {
  const LCID original = GetThreadLocale();
  const struct {
    LCID locale;
    const wchar_t* value;
  } cases[] = {{0x0419, L"\x0439"}, {0x0409, L"\x00E9"}};  // byte 0xE9 in code pages 1251 and 1252
  for (const auto& c : cases) {
    ASSERT_TRUE(SetThreadLocale(c.locale));
    EXPECT_HR(S_OK,
              server::applyRegistryScriptResource(programPath().c_str(), 900, L"REGISTRY", nullptr, 0, true));
    SetThreadLocale(original);
    const Snapshot expected = {{testKey, L""}, {testKey + L":", L"REG_SZ " + std::wstring(c.value) + L"|"}};
    EXPECT_EQ(expected, registry_test::snapshot(HKEY_CURRENT_USER, testKey))
        << std::hex << c.locale << "\n"
        << describe(registry_test::snapshot(HKEY_CURRENT_USER, testKey));
  }
  EXPECT_HR(S_OK,
            server::applyRegistryScriptResource(programPath().c_str(), 900, L"REGISTRY", nullptr, 0, false));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, testKey));
}

TEST_F(Registrar, AMissingScriptOrFileIsTheSystemsError) {
  EXPECT_HR(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
            server::applyRegistryScriptResource(programPath().c_str(), 999, L"REGISTRY", nullptr, 0, true));
  EXPECT_HR(HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND),
            server::applyRegistryScriptResource(programPath().c_str(), 900, L"NOSUCHTYPE", nullptr, 0, true));
  testing_support::TempFolder temp;
  EXPECT_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            server::applyRegistryScriptResource((temp.path() + L"\\missing.dll").c_str(), 102, L"REGISTRY",
                                                nullptr, 0, true));
}

}  // namespace
