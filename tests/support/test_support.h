#pragma once
// Helpers shared by the Windows test programs.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace testing_support {

// HRESULTs print in hexadecimal, as Windows documents them.
struct Hr {
  HRESULT value;
  bool operator==(const Hr& other) const { return value == other.value; }
};
inline void PrintTo(const Hr& hr, std::ostream* os) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr.value));
  *os << text;
}

// The folder that holds this test program.
std::wstring programFolder();
// The Dorvanel.DLL of this build: the nearest one above the test program.
std::wstring dllPath();
// A file of the test build, found like dllPath() (e.g. a helper program).
std::wstring buildFile(const wchar_t* name);

// A fresh, empty folder under the temporary folder; removed with its
// contents when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  // Makes a subfolder (and its parents) and returns its full path.
  std::wstring makeFolder(const std::wstring& relative) const;
  // Writes a file with the given bytes and returns its full path.
  std::wstring makeFile(const std::wstring& relative, const std::string& bytes = {}) const;

 private:
  std::wstring path_;
};

void removeTree(const std::wstring& path);

std::string narrow(const std::wstring& text);

}  // namespace testing_support

#define EXPECT_HR(expected, actual) \
  EXPECT_EQ(::testing_support::Hr{(expected)}, ::testing_support::Hr{(actual)})
#define ASSERT_HR(expected, actual) \
  ASSERT_EQ(::testing_support::Hr{(expected)}, ::testing_support::Hr{(actual)})
