// Proves that ticking never allocates: this binary replaces the global allocation
// functions with counting ones and counts while the sampling runs.

#include "LastResult.h"
#include "SamplingState.h"
#include "ScriptedClient.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> armed{false};
std::atomic<long> allocations{0};

void* Allocate(std::size_t size) {
    if (armed.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
    if (armed.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    const auto align = static_cast<std::size_t>(alignment);
    // aligned_alloc wants a nonzero size that is a multiple of the alignment.
    return std::aligned_alloc(align, (size / align + 1) * align);
}

void* OrThrow(void* p) {
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

} // namespace

void* operator new(std::size_t size) {
    return OrThrow(Allocate(size));
}
void* operator new[](std::size_t size) {
    return OrThrow(Allocate(size));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return OrThrow(AllocateAligned(size, a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return OrThrow(AllocateAligned(size, a));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return AllocateAligned(size, a);
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

/* Stores points in a fixed array, as the chart's point buffer does. */
class FixedView : public SampleView {
public:
    int mode = 0;
    long points = 0;
    std::array<std::array<std::int32_t, WindowPoints>, 2> shown{};

    int StatisticsMode() const override { return mode; }
    bool PeaksChecked() const override { return true; }
    bool GlideChecked() const override { return true; }
    void SetPoint(ChartSeries series, int index, std::int32_t value) override {
        shown[series == ChartSeries::Peaks ? 0 : 1][std::size_t(index) % WindowPoints] = value;
        ++points;
    }
};

TEST(SamplingAllocation, TicksInEveryModeAllocateNothing) {
    LastResult = 0;
    ScriptedClient client;
    client.requireOpenHandle = false;
    FixedView view;
    SamplingState state{view, client};
    constexpr int Ticks = 3000;

    // The counting functions are the ones in use.
    armed = true;
    ::operator delete(::operator new(16));
    armed = false;
    ASSERT_EQ(allocations.exchange(0), 1);

    armed = true;
    armed = true;
    for (int k = 0; k < Ticks; ++k) {
        client.SetUtilization(k % 101);
        state.SampleTick(nullptr);
    }
    state.ResetSampling();
    view.mode = 1;
    for (std::uint32_t k = 1; k <= Ticks; ++k) {
        client.SetCacheCounters(1000 * k, 600 * k);
        state.SampleTick(nullptr);
    }
    // Suspension and recovery on the way.
    client.Fail(ClientOp::GetCacheInfoRecord, ScriptedClient::BadHandle);
    for (int k = 0; k < 100; ++k)
        state.SampleTick(nullptr);
    const bool suspended = state.Stopped;
    client.Fail(ClientOp::GetCacheInfoRecord, 0);
    state.ResetSampling();
    view.mode = 0;
    for (int k = 0; k < Ticks; ++k)
        state.SampleTick(nullptr);
    view.mode = 2;
    for (int k = 0; k < 100; ++k)
        state.SampleTick(nullptr);
    armed = false;

    EXPECT_EQ(allocations.load(), 0);
    // The ticks did their work: all points drawn, and the suspension took hold.
    EXPECT_TRUE(suspended);
    EXPECT_EQ(view.points, 2L * WindowPoints * (3 * Ticks + 200));
    EXPECT_EQ(client.calls.size(), std::size_t(3 * Ticks + 1));
}

} // namespace
