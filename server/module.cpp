#include "server/module.h"

#include "handler/process_strings.h"
#include "server/class_table.h"
#include "server/lock.h"
#include "server/server.h"

namespace server {
namespace {

bool initFailed = false;

// Resource-module state.
HINSTANCE instance = nullptr;
HINSTANCE resourceModules[1] = {};
std::size_t resourceModuleCount = 0;
ModuleLock resourceModuleLock;

// Module state proper.
volatile LONG lockCountValue = 0;

bool createResourceModules(HINSTANCE moduleHandle) noexcept {
  instance = moduleHandle;
  resourceModules[0] = moduleHandle;
  resourceModuleCount = 1;
  return resourceModuleLock.create();
}

void releaseResourceModules() noexcept {
  resourceModuleLock.destroy();
  resourceModuleCount = 0;
  resourceModules[0] = nullptr;
  instance = nullptr;
}

}  // namespace

HINSTANCE moduleInstance() noexcept { return instance; }

HINSTANCE resourceModule(std::size_t index) noexcept {
  if (!resourceModuleLock.created()) {
    return nullptr;  // the state was never made, or is gone
  }
  LockHolder hold(resourceModuleLock);
  return index < resourceModuleCount ? resourceModules[index] : nullptr;
}

LONG lockModule() noexcept { return InterlockedIncrement(&lockCountValue); }

LONG unlockModule() noexcept { return InterlockedDecrement(&lockCountValue); }

LONG lockCount() noexcept { return lockCountValue; }

HRESULT canUnloadNow() noexcept { return lockCount() == 0 ? S_OK : S_FALSE; }

bool initializeModule(HINSTANCE moduleHandle) noexcept {
  initFailed = false;
  // Strings live on the process heap, which needs no set-up.
  if (!createResourceModules(moduleHandle)) {
    initFailed = true;
  }
  if (!createClassTable()) {
    initFailed = true;
  }
  // Without verbName no handler could answer for its verb.
  if (FAILED(handler::createProcessStrings())) {
    initFailed = true;
  }
  InterlockedExchange(&lockCountValue, 0);
  return !initFailed;
}

void releaseModule() noexcept {
  // The module state proper holds nothing to release.
  handler::releaseProcessStrings();
  releaseClassTable();
  releaseResourceModules();
}

}  // namespace server
