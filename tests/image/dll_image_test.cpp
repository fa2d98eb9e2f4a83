// Dorvanel.DLL as Windows sees it: loaded as a data file and as a library,
// its exports, imports, version record and manifest.

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "support/test_support.h"

using testing_support::dllPath;

namespace {

constexpr const char* exportNames[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                       "DllUnregisterServer"};

class LoadedDll : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dllPath();
    ASSERT_FALSE(path_.empty()) << "Dorvanel.DLL not found above the test program";
    module_ = LoadLibraryW(path_.c_str());
    ASSERT_NE(nullptr, module_) << "LoadLibraryW failed, error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }
  const BYTE* base() const { return reinterpret_cast<const BYTE*>(module_); }
  const IMAGE_NT_HEADERS* ntHeaders() const {
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base());
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base() + dos->e_lfanew);
  }
  const IMAGE_DATA_DIRECTORY& directory(int index) const {
    return ntHeaders()->OptionalHeader.DataDirectory[index];
  }

  std::wstring path_;
  HMODULE module_ = nullptr;
};

TEST_F(LoadedDll, ExportsExactlyTheFourEntryPointsByNameAndOrdinal) {
  for (WORD ordinal = 1; ordinal <= 4; ++ordinal) {
    const char* name = exportNames[ordinal - 1];
    FARPROC byName = GetProcAddress(module_, name);
    FARPROC byOrdinal = GetProcAddress(module_, MAKEINTRESOURCEA(ordinal));
    EXPECT_NE(nullptr, byName) << name;
    EXPECT_EQ(byName, byOrdinal) << name << " is not ordinal " << ordinal;
  }
  EXPECT_EQ(nullptr, GetProcAddress(module_, MAKEINTRESOURCEA(5)));
  for (const char* hidden :
       {"DllMain", "DllMain@12", "_DllMain@12", "DllGetClassObject@12", "_DllGetClassObject@12"}) {
    EXPECT_EQ(nullptr, GetProcAddress(module_, hidden)) << hidden << " is exported";
  }
}

TEST_F(LoadedDll, ExportDirectoryNamesTheModuleAndNothingElse) {
  const IMAGE_DATA_DIRECTORY& entry = directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
  ASSERT_NE(0u, entry.VirtualAddress);
  auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base() + entry.VirtualAddress);
  EXPECT_STREQ("Dorvanel.DLL", reinterpret_cast<const char*>(base() + exports->Name));
  EXPECT_EQ(1u, exports->Base);
  EXPECT_EQ(4u, exports->NumberOfFunctions);
  ASSERT_EQ(4u, exports->NumberOfNames);
  auto names = reinterpret_cast<const DWORD*>(base() + exports->AddressOfNames);
  auto ordinals = reinterpret_cast<const WORD*>(base() + exports->AddressOfNameOrdinals);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    EXPECT_STREQ(exportNames[i], reinterpret_cast<const char*>(base() + names[i]));
    EXPECT_EQ(i, ordinals[i]) << exportNames[i];
  }
}

TEST_F(LoadedDll, ImportsOnlyWindowsSystemDlls) {
  const std::vector<std::string> system = {"kernel32.dll", "user32.dll",  "gdi32.dll",  "advapi32.dll",
                                           "shell32.dll",  "shlwapi.dll", "ole32.dll",  "oleaut32.dll",
                                           "comctl32.dll", "msvcrt.dll",  "version.dll"};
  const IMAGE_DATA_DIRECTORY& entry = directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
  ASSERT_NE(0u, entry.VirtualAddress);
  int count = 0;
  for (auto import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base() + entry.VirtualAddress);
       import->Name != 0; ++import, ++count) {
    std::string name = reinterpret_cast<const char*>(base() + import->Name);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_NE(system.end(), std::find(system.begin(), system.end(), name)) << "imports " << name;
  }
  EXPECT_GT(count, 0);
}

TEST(DllAsDataFile, CarriesVersionRecordAndManifest) {
  std::wstring path = dllPath();
  HMODULE data = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, data) << "error " << GetLastError();

  EXPECT_NE(nullptr, FindResourceW(data, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)));
  HRSRC manifest = FindResourceW(data, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
  ASSERT_NE(nullptr, manifest);
  auto bytes = static_cast<const char*>(LockResource(LoadResource(data, manifest)));
  std::string text(bytes, SizeofResource(data, manifest));
  size_t open = text.find("<assembly");
  size_t openEnd = text.find('>', open);
  size_t close = text.find("</assembly>");
  ASSERT_NE(std::string::npos, open) << text;
  ASSERT_NE(std::string::npos, close) << text;
  // Nothing but white space inside the assembly element.
  std::string inside = text.substr(openEnd + 1, close - openEnd - 1);
  EXPECT_EQ(std::string::npos, inside.find_first_not_of(" \t\r\n")) << text;
  FreeLibrary(data);
}

TEST(DllVersion, IsOnePointZeroPointOnePointZero) {
  std::wstring path = dllPath();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_NE(0u, size) << "error " << GetLastError();
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
  EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
  EXPECT_EQ(0x00010000u, fixed->dwFileVersionLS);
  EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
  EXPECT_EQ(0x00010000u, fixed->dwProductVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

  wchar_t* text = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(L"1.0.1.0", text);
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\OriginalFilename",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(L"Dorvanel.DLL", text);
}

}  // namespace
