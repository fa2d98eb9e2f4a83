#pragma once
// Finds the processes that a call started from this process and reads what
// they were started with (image, command line, working folder), since a
// handler closes its process handles at once and reports nothing.

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace host {

struct ChildProcess {
  DWORD id = 0;
  std::wstring image;          // the executable's file name
  std::wstring imagePath;      // its full path, when it could be read
  std::wstring commandLine;    // as the process received it
  std::wstring workingFolder;  // its current folder, read soon after start
  bool readable = false;       // whether the three above could be read
  bool ended = false;          // it had already ended when looked at
};

// Ids of this process's children that are running now.
std::set<DWORD> childProcessIds();

// The children that are not in `before`, waiting up to `waitMs` for one to
// appear; each is read as far as it allows.
std::vector<ChildProcess> newChildProcesses(const std::set<DWORD>& before, DWORD waitMs);

}  // namespace host
