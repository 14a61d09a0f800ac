// The profile reader on any bytes: a profile of settings that exist, each
// at most once, with values of their kind and within the limits; or a
// refusal with a message and a line inside the file. What it accepts, the
// writer writes again, and that reads back as the same profile.
#include "ctl/profile.h"
#include "tests/fuzz/fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

using namespace kestro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Profile profile;
    ProfileError error;
    if (!ReadProfile(bytes, &profile, &error)) {
        KESTRO_FUZZ_CHECK(!error.message.empty(), "a refusal without a message");
        const auto lines = static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
        KESTRO_FUZZ_CHECK(error.line >= 0 && error.line <= lines, "line %d of a file of %d lines", error.line, lines);
        return 0;
    }
    KESTRO_FUZZ_CHECK(bytes.size() <= kMaxProfileBytes, "a profile of %zu bytes accepted", bytes.size());
    std::set<const Setting*> seen;
    for (const ProfileEntry& entry : profile.entries) {
        KESTRO_FUZZ_CHECK(entry.row && entry.row->HasState(), "an entry that is not a setting");
        KESTRO_FUZZ_CHECK(seen.insert(entry.row).second, "%s given twice", entry.row->name);
        KESTRO_FUZZ_CHECK(entry.value.kind == KindOf(*entry.row), "%s with a value of another kind", entry.row->name);
        KESTRO_FUZZ_CHECK(entry.value.text.size() <= kMaxProfileTextChars, "a text of %zu characters",
                          entry.value.text.size());
    }

    const std::string again = WriteProfile(profile, {"a note"});
    Profile reread;
    KESTRO_FUZZ_CHECK(ReadProfile(again, &reread, &error), "the written profile is refused: line %d: %s", error.line,
                      error.message.c_str());
    KESTRO_FUZZ_CHECK(reread.entries.size() == profile.entries.size(), "%zu entries, then %zu",
                      profile.entries.size(), reread.entries.size());
    for (std::size_t i = 0; i < profile.entries.size(); ++i) {
        KESTRO_FUZZ_CHECK(reread.entries[i].row == profile.entries[i].row &&
                              reread.entries[i].value == profile.entries[i].value,
                          "%s changed on the way round", profile.entries[i].row->name);
    }
    return 0;
}
