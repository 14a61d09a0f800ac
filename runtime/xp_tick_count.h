#pragma once
// Windows XP's kernel32 has no GetTickCount64 (it came with Vista), yet the
// threading runtime that is linked into the program statically (winpthread,
// which libstdc++ and libgcc use) imports it, and one import that a system
// DLL lacks stops the whole program from loading: XP would refuse to start
// kestro.exe with "The procedure entry point GetTickCount64 could not be
// located in the dynamic link library KERNEL32.dll".
//
// xp_tick_count.cpp therefore defines that import's slot itself (the
// pointer the runtime calls through), so the linker has nothing left to
// import. The slot leads to kernel32's own GetTickCount64 where the running
// Windows has one, and otherwise to a millisecond count of the performance
// counter, the count that winpthread itself uses when it is built for XP.
// The choice is made at the first call and kept, so the count never jumps.

#include <windows.h>

namespace kestro::xp {

using TickCount64Function = ULONGLONG(WINAPI*)();

// Whole milliseconds in `counter` ticks of a counter that runs at
// `frequency` ticks a second, without overflowing for any counter value.
ULONGLONG MillisecondsFromCounter(LONGLONG counter, LONGLONG frequency);

// Milliseconds from the performance counter; GetTickCount's 32-bit count
// where the machine has no performance counter.
ULONGLONG WINAPI TickCount64FromCounter();

// The function to use: `system` (kernel32's GetTickCount64, looked up by
// name) when there is one, TickCount64FromCounter when it is null.
TickCount64Function ChooseTickCount64(FARPROC system);

// What the import slot calls: on the first call it looks kernel32's
// function up and keeps the choice.
ULONGLONG WINAPI TickCount64();

// The function that TickCount64 settled on; null before its first call.
TickCount64Function TickCount64InUse();

}  // namespace kestro::xp
