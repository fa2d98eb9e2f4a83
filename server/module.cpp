#include "server/module.h"

namespace server {
namespace {

HINSTANCE instance = nullptr;
volatile LONG lockCountValue = 0;

}  // namespace

HINSTANCE moduleInstance() noexcept { return instance; }

LONG lockModule() noexcept { return InterlockedIncrement(&lockCountValue); }

LONG unlockModule() noexcept { return InterlockedDecrement(&lockCountValue); }

LONG lockCount() noexcept { return lockCountValue; }

bool initializeModule(HINSTANCE moduleHandle) noexcept {
  instance = moduleHandle;
  lockCountValue = 0;
  return true;
}

void releaseModule() noexcept { instance = nullptr; }

}  // namespace server
