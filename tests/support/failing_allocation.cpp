#include "failing_allocation.h"

#include <atomic>
#include <new>

namespace morvane::sim {
namespace {
std::atomic<int> g_countdown{0};
}
void FailNthNothrowArrayAllocation(int n) { g_countdown = n; }
}  // namespace morvane::sim

// Replaces the nothrow array form for the whole test program; the memory
// still comes from the array form, so it pairs with delete[].
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    int left = morvane::sim::g_countdown.load();
    while (left > 0 && !morvane::sim::g_countdown.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
