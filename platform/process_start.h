#pragma once
// Process creation for the console launch, with a test seam: tests replace
// CreateProcessW to see the exact arguments of the call (Wine hands a child
// the program path for an empty command line, so the child alone cannot tell
// "empty" from "null") and to make a start fail on purpose.

#include <windows.h>

namespace platform {

using CreateProcessFunction = BOOL(WINAPI*)(LPCWSTR applicationName, LPWSTR commandLine,
                                            LPSECURITY_ATTRIBUTES processAttributes,
                                            LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                            DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                                            LPSTARTUPINFOW startupInfo,
                                            LPPROCESS_INFORMATION processInformation);

// Calls the installed function, CreateProcessW unless a test replaced it.
BOOL createProcess(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                   LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                   LPPROCESS_INFORMATION processInformation) noexcept;

// Test seam: installs `function` (null restores CreateProcessW) and returns
// the one installed before.
CreateProcessFunction replaceCreateProcess(CreateProcessFunction function) noexcept;

}  // namespace platform
