// Which Windows kestroctl works on: the running one (its provider asks the
// kernel) or the one whose hives it opened (CurrentVersion in SOFTWARE).
#pragma once

#include "registry/registry_store.h"
#include "settings/catalogue.h"

#include <string>

namespace kestro {

struct WindowsIdentity {
    bool known = false;
    WindowsVersion version = WindowsVersion::XP;
    std::string name;  // e.g. "Windows 10 Pro (10.0.19045)"
};

// The version of NT major.minor.build: 5.x XP (and Server 2003), 6.0 Vista,
// 6.1 7, 6.2 and 6.3 8.1, 10.0 10, and 11 from build 22000. Unknown for
// anything older.
bool VersionOfNt(unsigned major, unsigned minor, unsigned build, WindowsVersion* version);

// From HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion of the store:
// CurrentMajorVersionNumber/CurrentMinorVersionNumber (10 and later; their
// CurrentVersion stays "6.3"), else CurrentVersion, with CurrentBuildNumber
// (or CurrentBuild) and ProductName for the name.
WindowsIdentity IdentifyWindows(RegistryStore& store);

// The same from numbers the kernel gave: "Windows 10 (10.0.19045)" (a
// running Windows' ProductName may lag behind, as Wine's does).
WindowsIdentity IdentifyWindows(unsigned major, unsigned minor, unsigned build);

}  // namespace kestro
