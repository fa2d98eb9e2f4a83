#include "platform/memory.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<long> failurePlan{-1};
std::atomic<long> successes{0};
std::atomic<long> live{0};

bool plannedFailure() noexcept {
  long plan = failurePlan.load(std::memory_order_relaxed);
  while (plan >= 0) {
    if (failurePlan.compare_exchange_weak(plan, plan - 1, std::memory_order_relaxed)) {
      return plan == 0;
    }
  }
  return false;
}

}  // namespace

void* allocateUnplanned(std::size_t bytes) noexcept {
  void* block = HeapAlloc(GetProcessHeap(), 0, bytes == 0 ? 1 : bytes);
  if (block != nullptr) {
    successes.fetch_add(1, std::memory_order_relaxed);
    live.fetch_add(1, std::memory_order_relaxed);
  }
  return block;
}

void* allocate(std::size_t bytes) noexcept {
  if (plannedFailure()) {
    return nullptr;
  }
  return allocateUnplanned(bytes);
}

void release(void* block) noexcept {
  if (block != nullptr) {
    live.fetch_sub(1, std::memory_order_relaxed);
    HeapFree(GetProcessHeap(), 0, block);
  }
}

void failAllocationAfter(long count) noexcept { failurePlan.store(count < 0 ? -1 : count); }

long allocationCount() noexcept { return successes.load(); }

long liveAllocationCount() noexcept { return live.load(); }

}  // namespace platform
