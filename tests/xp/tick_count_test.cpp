// The stand-in for kernel32's GetTickCount64 (runtime/xp_tick_count.cpp), which
// keeps that Vista function out of the program's imports.
#include "runtime/xp_tick_count.h"

#include <gmock/gmock.h>

#include <limits>

using kestro::xp::ChooseTickCount64;
using kestro::xp::MillisecondsFromCounter;
using kestro::xp::TickCount64FromCounter;
using kestro::xp::TickCount64Function;

// The slot that the runtime calls through, under its linker name.
#if defined(__x86_64__)
extern "C" TickCount64Function kestro_GetTickCount64_slot __asm__("__imp_GetTickCount64");
#else
extern "C" TickCount64Function kestro_GetTickCount64_slot __asm__("__imp__GetTickCount64@0");
#endif

namespace {

ULONGLONG WINAPI FortyTwo() { return 42; }

TEST(MillisecondsFromCounter, CountsWholeMilliseconds) {
    EXPECT_EQ(MillisecondsFromCounter(0, 3579545), 0u);
    EXPECT_EQ(MillisecondsFromCounter(3579545LL * 10, 3579545), 10000u);
    EXPECT_EQ(MillisecondsFromCounter(999, 1000), 999u);
    EXPECT_EQ(MillisecondsFromCounter(1999, 2000), 999u);
    EXPECT_EQ(MillisecondsFromCounter(2001, 2000), 1000u);
}

TEST(MillisecondsFromCounter, DoesNotOverflowOnLargeCounts) {
    // 9223372036854775807 ticks at 10 MHz are 922337203685477.5807 ms;
    // counter * 1000 alone would not fit in 64 bits.
    EXPECT_EQ(MillisecondsFromCounter(std::numeric_limits<LONGLONG>::max(), 10000000), 922337203685477ULL);
    // 2^62 ticks at 3 kHz: 1537228672809129301.33 ms.
    EXPECT_EQ(MillisecondsFromCounter(LONGLONG{1} << 62, 3000), 1537228672809129301ULL);
}

TEST(MillisecondsFromCounter, GivesZeroForAMeaninglessCounter) {
    EXPECT_EQ(MillisecondsFromCounter(12345, 0), 0u);
    EXPECT_EQ(MillisecondsFromCounter(12345, -1), 0u);
    EXPECT_EQ(MillisecondsFromCounter(-5, 1000), 0u);
}

TEST(ChooseTickCount64, TakesTheSystemFunctionWhenThereIsOne) {
    const TickCount64Function chosen = ChooseTickCount64(reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FortyTwo)));
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen(), 42u);
}

TEST(ChooseTickCount64, FallsBackToThePerformanceCounterOnXp) {
    EXPECT_EQ(ChooseTickCount64(nullptr), &TickCount64FromCounter);
}

TEST(TickCount64FromCounter, NeverRunsBackwards) {
    const ULONGLONG first = TickCount64FromCounter();
    const ULONGLONG second = TickCount64FromCounter();
    EXPECT_LE(first, second);
}

TEST(GetTickCount64Slot, LeadsToTheStandIn) {
    EXPECT_EQ(kestro_GetTickCount64_slot, &kestro::xp::TickCount64);
}

TEST(GetTickCount64Slot, UsesKernel32sOwnFunctionWhereWindowsHasOne) {
    // Wine's kernel32, like Vista's and later, has GetTickCount64.
    const FARPROC system = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount64");
    ASSERT_NE(system, nullptr);
    kestro_GetTickCount64_slot();
    EXPECT_EQ(reinterpret_cast<void*>(kestro::xp::TickCount64InUse()), reinterpret_cast<void*>(system));
}

}  // namespace
