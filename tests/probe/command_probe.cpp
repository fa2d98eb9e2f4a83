// A stand-in for the command interpreter: tests point "comspec" at it. It
// appends one line to the file named by DORVANEL_PROBE_LOG, in UTF-8:
//   <working folder>\t<command line>\n
// and exits at once. The log is written under a lock-free append with
// retries so that several probes may record into one file.

#include <windows.h>

#include <string>

int wmain() {
  wchar_t logPath[MAX_PATH * 2];
  if (GetEnvironmentVariableW(L"DORVANEL_PROBE_LOG", logPath, MAX_PATH * 2) == 0) {
    return 2;
  }
  wchar_t folder[MAX_PATH * 2];
  DWORD folderLength = GetCurrentDirectoryW(MAX_PATH * 2, folder);
  std::wstring line(folder, folderLength);
  line += L'\t';
  line += GetCommandLineW();
  line += L'\n';

  int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                 nullptr);
  std::string bytes(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), size, nullptr,
                      nullptr);
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE log =
        CreateFileW(logPath, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(log, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      CloseHandle(log);
      return 0;
    }
    Sleep(20);
  }
  return 3;
}
