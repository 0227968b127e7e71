#include "failing_allocation.h"

#include <atomic>
#include <new>

namespace morvane::sim {
namespace {
std::atomic<int> g_countdown{0};
}
void FailNthNothrowArrayAllocation(int n) { g_countdown = n; }
}  // namespace morvane::sim

namespace {
// Counts one nothrow array allocation down; true for the one to fail.
bool FailThisOne() {
    int left = morvane::sim::g_countdown.load();
    while (left > 0 && !morvane::sim::g_countdown.compare_exchange_weak(left, left - 1)) {
    }
    return left == 1;
}
}  // namespace

// Replace the nothrow array forms, plain and aligned, for the whole test
// program; the memory still comes from the matching array form, so each
// pairs with its delete[].
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (FailThisOne()) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    if (FailThisOne()) return nullptr;
    try {
        return ::operator new[](size, alignment);
    } catch (...) {
        return nullptr;
    }
}
