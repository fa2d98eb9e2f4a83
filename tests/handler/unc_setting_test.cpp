// The interpreter's "DisableUNCCheck" setting, read by Initialize from real
// values under HKCU and HKLM "Software\Microsoft\Command Processor" in the
// private prefix. Whatever was there before is put back afterwards.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "handler_fixture.h"

using handler_testing::Access;
using handler_testing::createHandler;
using handler_testing::itemIdListOf;

namespace {

constexpr wchar_t keyPath[] = L"Software\\Microsoft\\Command Processor";
constexpr wchar_t valueName[] = L"DisableUNCCheck";

// One registry value: its type and bytes.
struct Value {
  DWORD type;
  std::vector<BYTE> bytes;
};

Value dword(DWORD number) {
  Value value{REG_DWORD, std::vector<BYTE>(sizeof number)};
  memcpy(value.bytes.data(), &number, sizeof number);
  return value;
}
Value qword(ULONGLONG number) {
  Value value{REG_QWORD, std::vector<BYTE>(sizeof number)};
  memcpy(value.bytes.data(), &number, sizeof number);
  return value;
}
Value text(const wchar_t* string) {
  const BYTE* begin = reinterpret_cast<const BYTE*>(string);
  return Value{REG_SZ, std::vector<BYTE>(begin, begin + (wcslen(string) + 1) * sizeof(wchar_t))};
}

// Keeps one hive's value as it was and restores it (or its absence, and
// the key's absence) on destruction.
class SavedSetting {
 public:
  explicit SavedSetting(HKEY hive) : hive_(hive) {
    HKEY key = nullptr;
    keyExisted_ = RegOpenKeyExW(hive, keyPath, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (keyExisted_) {
      DWORD type = 0;
      DWORD size = 0;
      if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        Value value{type, std::vector<BYTE>(size)};
        RegQueryValueExW(key, valueName, nullptr, &type, value.bytes.data(), &size);
        saved_ = value;
      }
      RegCloseKey(key);
    }
  }
  ~SavedSetting() {
    set(saved_);
    if (!keyExisted_) {
      RegDeleteKeyW(hive_, keyPath);
    }
  }
  // Writes the value, or deletes it for no value.
  void set(const std::optional<Value>& value) const {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(hive_, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    if (value) {
      EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, valueName, 0, value->type, value->bytes.data(),
                                              static_cast<DWORD>(value->bytes.size())));
    } else {
      LSTATUS status = RegDeleteValueW(key, valueName);
      EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << "status " << status;
    }
    RegCloseKey(key);
  }

 private:
  HKEY hive_;
  bool keyExisted_ = false;
  std::optional<Value> saved_;
};

TEST(UncSetting, UserValueDecidesWhenItIsADwordElseTheMachineValue) {
  SavedSetting user(HKEY_CURRENT_USER);
  SavedSetting machine(HKEY_LOCAL_MACHINE);
  testing_support::TempFolder folder;
  const auto pidl = itemIdListOf(folder.path());
  // One handler for the whole table: each Initialize must read the setting
  // anew, also back to false after a true.
  auto init = createHandler();
  ASSERT_TRUE(init);

  struct Case {
    const char* what;
    std::optional<Value> user;
    std::optional<Value> machine;
    bool expected;
  };
  const Case cases[] = {
      {"nothing set", std::nullopt, std::nullopt, false},
      {"machine 1", std::nullopt, dword(1), true},
      {"user 1", dword(1), std::nullopt, true},
      {"user 0 overrides machine 1", dword(0), dword(1), false},
      {"user 1, machine 0 not read", dword(1), dword(0), true},
      {"user string \"1\" does not end the search", text(L"1"), dword(1), true},
      {"user string \"1\" alone", text(L"1"), std::nullopt, false},
      {"user 2 overrides machine 1", dword(2), dword(1), false},
      {"machine 2", std::nullopt, dword(2), false},
      {"user eight-byte value does not end the search", qword(1), dword(1), true},
      {"machine eight-byte value", std::nullopt, qword(1), false},
      {"user 0xFFFFFFFF", dword(0xFFFFFFFF), std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    user.set(c.user);
    machine.set(c.machine);
    EXPECT_HR(S_OK, init->Initialize(pidl.get(), nullptr, nullptr));
    EXPECT_EQ(c.expected, Access::uncCheckDisabled(init.get()));
  }

  // Read also when the selection is refused.
  user.set(dword(1));
  EXPECT_HR(E_INVALIDARG, init->Initialize(nullptr, nullptr, nullptr));
  EXPECT_TRUE(Access::uncCheckDisabled(init.get()));
}

}  // namespace
