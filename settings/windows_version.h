// Which Windows a program runs on, as the catalogue's ranges name them:
// shared by the window (its notes on settings this Windows ignores) and
// kestroctl (the same note on the command line).
#pragma once

#include "settings/catalogue.h"

namespace kestro {

// The version of NT major.minor.build: 5.x XP (and Server 2003), 6.0 Vista,
// 6.1 7, 6.2 and 6.3 8.1, 10.0 10, and 11 from build 22000. Unknown for
// anything older.
bool VersionOfNt(unsigned major, unsigned minor, unsigned build, WindowsVersion* version);

// The running Windows' numbers as its kernel gives them: ntdll's
// RtlGetVersion, which no compatibility shim bends (GetVersionEx answers
// as the manifest allows). False where there is no such Windows (natively)
// or ntdll lacks it.
bool RunningKernelVersion(unsigned* major, unsigned* minor, unsigned* build);

// The same as a catalogue version; false when unknown.
bool RunningWindowsVersion(WindowsVersion* version);

}  // namespace kestro
