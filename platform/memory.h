#pragma once
// The DLL's only source of heap memory: the process heap, never the C++ runtime.
// Code allocates with `new (std::nothrow)` (routed here by the DLL's global
// operators) or with allocate() directly, and treats null as E_OUTOFMEMORY.

#include <cstddef>

namespace platform {

void* allocate(std::size_t bytes) noexcept;
// Like allocate, but outside the fault plan: for the throwing operator new.
void* allocateUnplanned(std::size_t bytes) noexcept;
void release(void* block) noexcept;

// Test seam: the next `successes` allocations succeed and the one after fails;
// every later allocation succeeds again. A negative value disarms the plan.
void failAllocationAfter(long successes) noexcept;
// Number of allocations that succeeded since the process started.
long allocationCount() noexcept;
// Number of blocks allocated and not yet released: a test compares it before
// and after the code under test to find leaks.
long liveAllocationCount() noexcept;

}  // namespace platform
