// The string table inside the built Dorvanel.DLL, read back through the
// resource functions: one block in five language versions, their exact sizes
// and texts.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

const std::wstring englishTexts[16] = {L"",
                                       L"",
                                       L"",
                                       L"",
                                       L"Dorvanel",
                                       L"&Command Prompt",
                                       L"Run Command Prompt here",
                                       L"Browse this folder for Command Prompt"};
const std::wstring russianTexts[16] = {L"",
                                       L"",
                                       L"",
                                       L"",
                                       L"Dorvanel",
                                       L"&Командная строка",
                                       L"Запустить командную строку в этой папке",
                                       L"Выбрать папку для командной строки"};

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
  return TRUE;
}

BOOL CALLBACK collectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(found)->push_back(
      IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : ~ULONG_PTR{0});
  return TRUE;
}

class StringTable : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryExW(testing_support::dllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module) << "LoadLibraryExW error " << GetLastError();
  }
  void TearDown() override {
    if (module != nullptr) {
      FreeLibrary(module);
    }
  }
  HMODULE module = nullptr;
};

TEST_F(StringTable, HoldsOnlyBlockSevenInFiveLanguages) {
  std::vector<ULONG_PTR> names;
  EnumResourceNamesW(module, RT_STRING, collectName, reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(std::vector<ULONG_PTR>{7}, names);

  std::vector<WORD> languages;
  EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(7), collectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ((std::vector<WORD>{0x0007, 0x0009, 0x040C, 0x0419, 0x0804}), languages);
}

TEST_F(StringTable, EachVersionHasItsSizeAndTexts) {
  struct Version {
    WORD language;
    DWORD size;
    const std::wstring* texts;
  } versions[] = {
      {0x0007, 198, englishTexts}, {0x0009, 198, englishTexts}, {0x040C, 198, englishTexts},
      {0x0419, 228, russianTexts}, {0x0804, 198, englishTexts},
  };
  for (const Version& version : versions) {
    SCOPED_TRACE(::testing::Message() << "language 0x" << std::hex << version.language);
    HRSRC resource = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(7), version.language);
    ASSERT_NE(nullptr, resource);
    EXPECT_EQ(version.size, SizeofResource(module, resource));
    auto bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, resource)));
    ASSERT_NE(nullptr, bytes);

    // Sixteen entries, each a count and that many UTF-16 units, filling the
    // block exactly.
    std::size_t position = 0;
    for (int index = 0; index < 16; ++index) {
      ASSERT_LE(position + 2, SizeofResource(module, resource)) << "entry " << index;
      const std::uint16_t count = static_cast<std::uint16_t>(bytes[position] | (bytes[position + 1] << 8));
      std::wstring text(reinterpret_cast<const wchar_t*>(bytes + position + 2), count);
      EXPECT_EQ(version.texts[index], text) << "id " << 96 + index;
      position += 2 + 2 * std::size_t{count};
    }
    EXPECT_EQ(version.size, position);
  }
}

}  // namespace
