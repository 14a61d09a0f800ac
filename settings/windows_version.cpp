#include "settings/windows_version.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestro {

bool VersionOfNt(unsigned major, unsigned minor, unsigned build, WindowsVersion* version) {
    if (major == 5 && minor >= 1) *version = WindowsVersion::XP;
    else if (major == 6 && minor == 0) *version = WindowsVersion::Vista;
    else if (major == 6 && minor == 1) *version = WindowsVersion::Seven;
    else if (major == 6 && (minor == 2 || minor == 3)) *version = WindowsVersion::EightOne;
    else if (major == 10 && build >= 22000) *version = WindowsVersion::Eleven;
    else if (major == 10) *version = WindowsVersion::Ten;
    else return false;
    return true;
}

bool RunningKernelVersion(unsigned* major, unsigned* minor, unsigned* build) {
#ifdef _WIN32
    // Found at run time: XP's ntdll must load the program as well.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                                 reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!get || get(&info) != 0) return false;
    *major = info.dwMajorVersion;
    *minor = info.dwMinorVersion;
    *build = info.dwBuildNumber;
    return true;
#else
    (void)major, (void)minor, (void)build;
    return false;
#endif
}

bool RunningWindowsVersion(WindowsVersion* version) {
    unsigned major = 0, minor = 0, build = 0;
    return RunningKernelVersion(&major, &minor, &build) && VersionOfNt(major, minor, build, version);
}

}  // namespace kestro
