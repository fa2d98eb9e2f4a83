// Global allocation operators: every C++ allocation goes to the process heap
// through platform::allocate, so no C++ runtime library is needed. The
// throwing forms exist only because the language requires them; nothing in
// the DLL calls them, and if something did and memory ran out the process
// ends at once instead of returning null to code that does not check.

#include <windows.h>

#include <cstddef>
#include <new>

#include "platform/memory.h"

namespace {

[[noreturn]] void failFast() noexcept {
  RaiseFailFastException(nullptr, nullptr, 0);
  __builtin_trap();
}

void* allocateOrFailFast(std::size_t bytes) noexcept {
  // Only nothrow allocations take part in the fault plan.
  void* block = platform::allocateUnplanned(bytes);
  if (block == nullptr) {
    failFast();
  }
  return block;
}

}  // namespace

void* operator new(std::size_t bytes) { return allocateOrFailFast(bytes); }
void* operator new[](std::size_t bytes) { return allocateOrFailFast(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return platform::allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return platform::allocate(bytes); }
void operator delete(void* block) noexcept { platform::release(block); }
void operator delete[](void* block) noexcept { platform::release(block); }
void operator delete(void* block, std::size_t) noexcept { platform::release(block); }
void operator delete[](void* block, std::size_t) noexcept { platform::release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { platform::release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { platform::release(block); }
