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
    // What the writers would refuse, a reader must not hand on; a policy file
    // may also carry values of other types, within its data limit.
    std::string problem = PlaceProblem(value);
    KESTRO_FUZZ_CHECK(problem.empty(), "key path \"%s\" or value name read: %s", value.keyPath.c_str(), problem.c_str());
    if (value.type == kRegDword || value.type == kRegSz || !anyPolicyType) {
        problem = DataProblem(value);
        KESTRO_FUZZ_CHECK(problem.empty(), "type %u read: %s", static_cast<unsigned>(value.type), problem.c_str());
    } else {
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
