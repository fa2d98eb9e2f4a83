#include "support/test_support.h"

#include <shlwapi.h>

namespace testing_support {

std::wstring programFolder() {
  wchar_t path[MAX_PATH * 2];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring buildFile(const wchar_t* name) {
  std::wstring folder = programFolder();
  for (;;) {
    std::wstring candidate = folder + L"\\" + name;
    if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return candidate;
    }
    size_t cut = folder.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut < 3) {
      return {};
    }
    folder.resize(cut);
  }
}

std::wstring dllPath() { return buildFile(L"Dorvanel.DLL"); }

TempFolder::TempFolder() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static unsigned counter = 0;
  for (;;) {
    wchar_t name[64];
    swprintf(name, 64, L"dorvanel-%lu-%u", GetCurrentProcessId(), ++counter);
    path_ = std::wstring(base) + name;
    if (CreateDirectoryW(path_.c_str(), nullptr)) {
      break;
    }
  }
  // The long form, so that paths compare equal to what the shell reports.
  wchar_t full[MAX_PATH * 2];
  if (DWORD n = GetLongPathNameW(path_.c_str(), full, MAX_PATH * 2); n > 0 && n < MAX_PATH * 2) {
    path_ = full;
  }
}

TempFolder::~TempFolder() { removeTree(path_); }

std::wstring TempFolder::makeFolder(const std::wstring& relative) const {
  std::wstring full = path_;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find(L'\\', start);
    if (end == std::wstring::npos) {
      end = relative.size();
    }
    full += L"\\" + relative.substr(start, end - start);
    CreateDirectoryW(full.c_str(), nullptr);
    start = end + 1;
  }
  return full;
}

std::wstring TempFolder::makeFile(const std::wstring& relative, const std::string& bytes) const {
  std::wstring full = path_ + L"\\" + relative;
  HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
  return full;
}

void removeTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") {
        continue;
      }
      std::wstring child = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                      nullptr);
  return out;
}

}  // namespace testing_support
