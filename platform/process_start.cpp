#include "platform/process_start.h"

#include <atomic>

namespace platform {
namespace {

// Null stands for CreateProcessW, so that no start-up code has to run.
std::atomic<CreateProcessFunction> replacement{nullptr};

}  // namespace

BOOL createProcess(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                   LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                   LPPROCESS_INFORMATION processInformation) noexcept {
  CreateProcessFunction function = replacement.load();
  if (function == nullptr) {
    function = CreateProcessW;
  }
  return function(applicationName, commandLine, processAttributes, threadAttributes, inheritHandles,
                  creationFlags, environment, currentDirectory, startupInfo, processInformation);
}

CreateProcessFunction replaceCreateProcess(CreateProcessFunction function) noexcept {
  return replacement.exchange(function);
}

}  // namespace platform
