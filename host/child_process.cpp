#include "host/child_process.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>

#include "platform/unique_resource.h"

namespace host {
namespace {

using platform::UniqueHandle;

// The head of RTL_USER_PROCESS_PARAMETERS up to the command line, with the
// current-folder field that winternl.h leaves unnamed.
struct ProcessParametersHead {
  BYTE reserved1[16];
  PVOID reserved2[5];
  UNICODE_STRING currentDirectory;
  HANDLE currentDirectoryHandle;
  PVOID reserved3[2];
  UNICODE_STRING imagePathName;
  UNICODE_STRING commandLine;
};
static_assert(offsetof(ProcessParametersHead, imagePathName) ==
              offsetof(RTL_USER_PROCESS_PARAMETERS, ImagePathName));
static_assert(offsetof(ProcessParametersHead, commandLine) ==
              offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine));

bool readMemory(HANDLE process, const void* address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return ReadProcessMemory(process, address, buffer, size, &read) && read == size;
}

bool readString(HANDLE process, const UNICODE_STRING& source, std::wstring& text) {
  text.assign(source.Length / sizeof(wchar_t), L'\0');
  return source.Length == 0 || readMemory(process, source.Buffer, text.data(), source.Length);
}

// Reads the process's start parameters; false while they are not in place.
bool readParameters(HANDLE process, ChildProcess& child) {
  PROCESS_BASIC_INFORMATION basic{};
  ULONG length = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &length) < 0 ||
      basic.PebBaseAddress == nullptr) {
    return false;
  }
  PEB peb{};
  if (!readMemory(process, basic.PebBaseAddress, &peb, sizeof peb) || peb.ProcessParameters == nullptr) {
    return false;
  }
  ProcessParametersHead parameters{};
  if (!readMemory(process, peb.ProcessParameters, &parameters, sizeof parameters) ||
      parameters.imagePathName.Length == 0) {
    return false;
  }
  return readString(process, parameters.imagePathName, child.imagePath) &&
         readString(process, parameters.commandLine, child.commandLine) &&
         readString(process, parameters.currentDirectory, child.workingFolder);
}

std::vector<PROCESSENTRY32W> children() {
  std::vector<PROCESSENTRY32W> found;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
    snapshot.release();
    return found;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == GetCurrentProcessId() && entry.th32ProcessID != GetCurrentProcessId()) {
      found.push_back(entry);
    }
  }
  return found;
}

}  // namespace

std::set<DWORD> childProcessIds() {
  std::set<DWORD> ids;
  for (const PROCESSENTRY32W& entry : children()) {
    ids.insert(entry.th32ProcessID);
  }
  return ids;
}

std::vector<ChildProcess> newChildProcesses(const std::set<DWORD>& before, DWORD waitMs) {
  std::vector<ChildProcess> found;
  DWORD start = GetTickCount();
  // A bounded poll: a new process may take a moment to show in the snapshot.
  for (;;) {
    for (const PROCESSENTRY32W& entry : children()) {
      if (before.count(entry.th32ProcessID) == 0) {
        ChildProcess child;
        child.id = entry.th32ProcessID;
        child.image = entry.szExeFile;
        found.push_back(child);
      }
    }
    if (!found.empty() || GetTickCount() - start >= waitMs) {
      break;
    }
    Sleep(50);
  }
  for (ChildProcess& child : found) {
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, child.id));
    if (!process) {
      child.ended = true;
      continue;
    }
    // Its parameters are in place once it has started running.
    while (!(child.readable = readParameters(process.get(), child))) {
      if (WaitForSingleObject(process.get(), 50) == WAIT_OBJECT_0) {
        child.ended = true;
        break;
      }
      if (GetTickCount() - start >= waitMs) {
        break;
      }
    }
  }
  return found;
}

}  // namespace host
