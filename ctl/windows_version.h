// Which Windows kestroctl works on: the running one (its provider asks the
// kernel) or the one whose hives it opened (CurrentVersion in SOFTWARE).
#pragma once

#include "registry/registry_store.h"
#include "settings/catalogue.h"
#include "settings/windows_version.h"

#include <string>

namespace kestro {

struct WindowsIdentity {
    bool known = false;
    WindowsVersion version = WindowsVersion::XP;
    std::string name;  // e.g. "Windows 10 Pro (10.0.19045)"
};

// From HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion of the store:
// CurrentMajorVersionNumber/CurrentMinorVersionNumber (10 and later; their
// CurrentVersion stays "6.3"), else CurrentVersion, with CurrentBuildNumber
// (or CurrentBuild) and ProductName for the name.
WindowsIdentity IdentifyWindows(RegistryStore& store);

// The same from numbers the kernel gave: "Windows 10 (10.0.19045)" (a
// running Windows' ProductName may lag behind, as Wine's does).
WindowsIdentity IdentifyWindows(unsigned major, unsigned minor, unsigned build);

}  // namespace kestro
