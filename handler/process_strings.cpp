#include "handler/process_strings.h"

#include <atomic>

#include "platform/memory.h"

namespace handler {
namespace {

// The interpreter's path, published once with a compare-exchange so that a
// reader on another thread sees either nothing or the complete text.
std::atomic<wchar_t*> comspec{nullptr};

constexpr wchar_t verb[] = L"Dorvanel";

}  // namespace

const wchar_t* comspecPath() noexcept {
  const wchar_t* path = comspec.load(std::memory_order_acquire);
  return path != nullptr ? path : L"";
}

HRESULT cacheComspecPath() noexcept {
  if (comspec.load(std::memory_order_acquire) != nullptr) {
    return S_OK;
  }
  // The size, terminator included; 0 when the variable is missing.
  DWORD size = GetEnvironmentVariableW(L"comspec", nullptr, 0);
  if (size == 0) {
    return S_OK;
  }
  auto path = static_cast<wchar_t*>(platform::allocate(size * sizeof(wchar_t)));
  if (path == nullptr) {
    return E_OUTOFMEMORY;
  }
  const DWORD length = GetEnvironmentVariableW(L"comspec", path, size);
  // 0: gone or empty meanwhile; size or more: it grew meanwhile and the
  // buffer holds nothing. Either way the next construction tries again.
  if (length == 0 || length >= size) {
    platform::release(path);
    return S_OK;
  }
  wchar_t* expected = nullptr;
  if (!comspec.compare_exchange_strong(expected, path, std::memory_order_acq_rel)) {
    platform::release(path);  // another thread published first
  }
  return S_OK;
}

const wchar_t* verbName() noexcept { return verb; }

HRESULT createProcessStrings() noexcept {
  releaseProcessStrings();
  return S_OK;
}

void releaseProcessStrings() noexcept {
  platform::release(comspec.exchange(nullptr, std::memory_order_acq_rel));
}

}  // namespace handler
