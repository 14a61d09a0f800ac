#include "runtime/xp_tick_count.h"

#include <atomic>

namespace kestro::xp {

namespace {

std::atomic<TickCount64Function> chosen{nullptr};

}  // namespace

ULONGLONG MillisecondsFromCounter(LONGLONG counter, LONGLONG frequency) {
    if (counter < 0 || frequency <= 0) return 0;
    const auto ticks = static_cast<ULONGLONG>(counter);
    const auto rate = static_cast<ULONGLONG>(frequency);
    return ticks / rate * 1000 + ticks % rate * 1000 / rate;
}

ULONGLONG WINAPI TickCount64FromCounter() {
    LARGE_INTEGER frequency, now;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 && QueryPerformanceCounter(&now))
        return MillisecondsFromCounter(now.QuadPart, frequency.QuadPart);
    return GetTickCount();
}

TickCount64Function ChooseTickCount64(FARPROC system) {
    if (system == nullptr) return &TickCount64FromCounter;
    // Through a plain function pointer type, which any function pointer
    // converts to without a warning about the signature.
    return reinterpret_cast<TickCount64Function>(reinterpret_cast<void (*)()>(system));
}

ULONGLONG WINAPI TickCount64() {
    TickCount64Function function = chosen.load(std::memory_order_acquire);
    if (function == nullptr) {
        // Two threads may both get here; they choose the same function.
        HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
        function = ChooseTickCount64(kernel32 ? GetProcAddress(kernel32, "GetTickCount64") : nullptr);
        chosen.store(function, std::memory_order_release);
    }
    return function();
}

TickCount64Function TickCount64InUse() { return chosen.load(std::memory_order_acquire); }

}  // namespace kestro::xp

// The import slot, under the name the linker gives kernel32's: defined here,
// it is never looked for in kernel32's import library.
#if defined(__x86_64__)
#define KESTRO_GETTICKCOUNT64_SLOT "__imp_GetTickCount64"
#elif defined(__i386__)
#define KESTRO_GETTICKCOUNT64_SLOT "__imp__GetTickCount64@0"
#else
#error "no GetTickCount64 import slot name for this processor"
#endif

extern "C" {
kestro::xp::TickCount64Function kestro_GetTickCount64_slot __asm__(KESTRO_GETTICKCOUNT64_SLOT) =
    &kestro::xp::TickCount64;
}
