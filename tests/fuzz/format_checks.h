// What every value a reader of outside files hands on must satisfy, whatever
// the file held: the types and data the engine can store, and the limits of
// formats/layout.h.
#pragma once

#include "formats/layout.h"
#include "formats/values.h"
#include "tests/fuzz/fuzz_check.h"

#include <string>
#include <vector>

namespace kestro::fuzz {

inline void CheckReadValue(const RegValue& value, bool anyPolicyType) {
    KESTRO_FUZZ_CHECK(value.root == kHkeyCurrentUser || value.root == kHkeyLocalMachine ||
                          value.root == kHkeyClassesRoot,
                      "root %#lx", static_cast<unsigned long>(value.root));
    std::u16string path, name;
    try {
        path = StrictUtf8ToUtf16(value.keyPath);
        name = StrictUtf8ToUtf16(value.name);
    } catch (const std::invalid_argument&) {
        KESTRO_FUZZ_CHECK(false, "a key path or value name read is not UTF-8");
    }
    std::string problem = KeyPathProblem(path);
    KESTRO_FUZZ_CHECK(problem.empty(), "key path \"%s\" read: %s", value.keyPath.c_str(), problem.c_str());
    problem = ValueNameProblem(name);
    KESTRO_FUZZ_CHECK(problem.empty(), "value name read: %s", problem.c_str());
    if (value.type == kRegDword) {
        KESTRO_FUZZ_CHECK(value.data.size() == 4, "REG_DWORD of %zu bytes", value.data.size());
    } else if (value.type == kRegSz) {
        std::u16string text;
        KESTRO_FUZZ_CHECK(TextFromData(value.data, &text), "REG_SZ data is not one text ending in a zero");
        KESTRO_FUZZ_CHECK(text.size() <= layout::kMaxTextChars, "text of %zu characters", text.size());
    } else {
        KESTRO_FUZZ_CHECK(anyPolicyType, "type %u read", static_cast<unsigned>(value.type));
        KESTRO_FUZZ_CHECK(value.data.size() <= layout::kPolMaxDataBytes, "%zu bytes of data", value.data.size());
    }
}

// A refusal names where it happened, within the file.
inline void CheckRefusal(const FormatError& error, std::size_t fileBytes) {
    std::string what = error.what();
    KESTRO_FUZZ_CHECK(!what.empty(), "an empty message");
    if (error.place() == FormatError::Place::Offset)
        KESTRO_FUZZ_CHECK(error.position() <= fileBytes, "offset %zu in a file of %zu bytes", error.position(),
                          fileBytes);
    if (error.place() == FormatError::Place::Line)
        KESTRO_FUZZ_CHECK(error.position() >= 1 && error.position() <= fileBytes / 2 + 1,
                          "line %zu in a file of %zu bytes", error.position(), fileBytes);
}

inline bool SameValues(const std::vector<RegValue>& a, const std::vector<RegValue>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].root != b[i].root || a[i].keyPath != b[i].keyPath || a[i].name != b[i].name ||
            a[i].type != b[i].type || a[i].data != b[i].data)
            return false;
    return true;
}

}  // namespace kestro::fuzz
