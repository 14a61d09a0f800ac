// Values shaped like the ones the settings writers store, for the format
// tests and for the sample files the outside consumers read.
#pragma once

#include "formats/reg_value.h"
#include "formats/values.h"

#include <ostream>
#include <vector>

namespace kestro::testing {

inline RegValue Dword(KeyHandle root, const char* key, const char* name, std::uint32_t n) {
    return RegValue{root, key, name, kRegDword, DwordData(n)};
}

inline RegValue Text(KeyHandle root, const char* key, const char* name, const std::u16string& text) {
    return RegValue{root, key, name, kRegSz, TextData(text)};
}

// One of each shape: plain user DWORDs, the font-smoothing triple, the two
// spellings of the CD-ROM key, a device start value, a negative number,
// Cyrillic Recycle Bin texts with characters that need escaping, an empty
// text and a wallpaper path full of backslashes.
inline std::vector<RegValue> SampleValues() {
    const char* explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    const char* bin = "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}";
    return {
        Dword(kHkeyCurrentUser, explorer, "NoRun", 1),
        Dword(kHkeyCurrentUser, explorer, "NoFind", 0),
        Dword(kHkeyCurrentUser, explorer, "MaxRecentDocs", 0xFFFFFFFFu),
        Dword(kHkeyCurrentUser, "DEFAULT\\Control Panel\\Desktop", "FontSmoothing", 2),
        Dword(kHkeyCurrentUser, "DEFAULT\\Control Panel\\Desktop", "FontSmoothingType", 2),
        Dword(kHkeyCurrentUser, "DEFAULT\\Control Panel\\Desktop", "FontSmoothingOrientation", 1),
        Text(kHkeyCurrentUser, "Control Panel\\Desktop", "Wallpaper", u"C:\\Мои рисунки\\закат.bmp"),
        Dword(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\CDRom", "AutoRun", 0),
        Dword(kHkeyLocalMachine, "system\\currentcontrolset\\services\\cdrom", "start", 4),
        Dword(kHkeyLocalMachine, "system\\currentcontrolset\\services\\usbstor", "start", 3),
        Text(kHkeyClassesRoot, bin, "LocalizedString", u"Корзина \"для\" мусора \\ 100%"),
        Text(kHkeyClassesRoot, bin, "InfoTip", u""),
    };
}

}  // namespace kestro::testing

namespace kestro {

inline bool operator==(const RegValue& a, const RegValue& b) {
    return a.root == b.root && a.keyPath == b.keyPath && a.name == b.name && a.type == b.type && a.data == b.data;
}

// Readable failures: the value's place, type and data bytes.
inline void PrintTo(const RegValue& v, std::ostream* os) {
    *os << DescribeValue(v) << " type " << v.type << " data";
    for (std::uint8_t b : v.data) *os << ' ' << std::hex << int(b) << std::dec;
}

}  // namespace kestro
