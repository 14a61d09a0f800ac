// A profile: settings and the values to give them, in the order given.
// The model is apart from the file format, so that readers of other
// formats produce the same thing.
//
// The file: UTF-8 text, a UTF-8 byte-order mark allowed, CRLF or LF.
//   ; a comment (also # ...), on a line of its own
//   [Kestro]
//   NoRun = on
//   MaxRecentDocs = 15
//   RecycleBinName = "Корзина"
// Names ignore case; each at most once; every entry below [Kestro], the
// only section. Spaces around names and values are dropped; a text keeps
// them inside double quotes.
#pragma once

#include "ctl/setting_value.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kestro {

// What a profile may be; anything beyond is refused with a message, and a
// larger file is never read whole. A full profile is about 1.5 KiB.
constexpr std::size_t kMaxProfileBytes = 64 * 1024;
constexpr std::size_t kMaxProfileLineBytes = 16 * 1024;  // room for the longest text in Cyrillic

struct ProfileEntry {
    const Setting* row = nullptr;
    SettingValue value;
    int line = 0;  // in the file it came from; 0 when it came from elsewhere
};

struct Profile {
    std::vector<ProfileEntry> entries;
};

struct ProfileError {
    int line = 0;  // 0: the file as a whole
    std::string message;
};

// Reads all of it; false with the first fault when any line is wrong.
bool ReadProfile(const std::string& bytes, Profile* profile, ProfileError* error);

// The file text: a heading comment, [Kestro], one line per entry and then
// `notes` as comment lines. CRLF line ends, for XP's Notepad.
std::string WriteProfile(const Profile& profile, const std::vector<std::string>& notes);

}  // namespace kestro
