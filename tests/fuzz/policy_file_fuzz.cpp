// The Registry.pol reader on any bytes, as the User and as the Machine
// file: values within the limits, or a FormatError naming the offset;
// nothing else. Where every value is one the writer takes (REG_SZ,
// REG_DWORD), the written file reads back as the same values in export order.
// A lift's rewrite of a file it read (an entry taken out, every other byte
// kept) reads back as the other entries; gpt.ini's raise on the same bytes
// either refuses them or gives a text that raises again.
#include "formats/policy_file.h"
#include "settings/policy_sources.h"
#include "tests/fuzz/format_checks.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace kestro;

namespace {

void Check(const std::vector<std::uint8_t>& bytes, PolicyScope scope) {
    std::vector<RegValue> values;
    std::vector<std::size_t> offsets;
    try {
        values = ReadPolicyFile(bytes, scope, &offsets);
    } catch (const FormatError& e) {
        fuzz::CheckRefusal(e, bytes.size());
        return;
    }
    KESTRO_FUZZ_CHECK(values.size() <= layout::kMaxEntries, "%zu values", values.size());
    // Each entry's '[': after the header, in file order, inside the file.
    KESTRO_FUZZ_CHECK(offsets.size() == values.size(), "%zu offsets for %zu values", offsets.size(), values.size());
    for (std::size_t i = 0; i < offsets.size(); ++i)
        KESTRO_FUZZ_CHECK(offsets[i] >= layout::kPolHeaderBytes && offsets[i] < bytes.size() &&
                              (i == 0 || offsets[i] > offsets[i - 1]),
                          "entry %zu at offset %zu", i, offsets[i]);
    if (!values.empty()) {
        LocalPolicyFile file;
        file.bytes = bytes;
        file.entries = values;
        file.offsets = offsets;
        file.valid = true;
        const std::size_t out = values.size() / 2;
        std::vector<RegValue> left;
        try {
            left = ReadPolicyFile(WithoutEntries(file, {out}), scope);
        } catch (const FormatError& e) {
            KESTRO_FUZZ_CHECK(false, "an entry taken out leaves a file the reader refuses: %s", e.what());
        }
        std::vector<RegValue> expected = values;
        expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(out));
        KESTRO_FUZZ_CHECK(fuzz::SameValues(left, expected), "taking an entry out changed the others");
    }
    const KeyHandle root = scope == PolicyScope::User ? kHkeyCurrentUser : kHkeyLocalMachine;
    bool writable = true;
    for (const RegValue& value : values) {
        fuzz::CheckReadValue(value, true);
        KESTRO_FUZZ_CHECK(value.root == root, "a value outside the file's root");
        writable &= value.type == kRegSz || value.type == kRegDword;
    }
    if (!writable) return;

    PolicyFiles files;
    try {
        files = WritePolicyFiles(values);
    } catch (const FormatError& e) {
        KESTRO_FUZZ_CHECK(false, "the writer refuses what the reader accepted: %s", e.what());
    }
    const std::vector<std::uint8_t>& written = scope == PolicyScope::User ? files.user : files.machine;
    std::vector<RegValue> reread;
    try {
        reread = ReadPolicyFile(written, scope);
    } catch (const FormatError& e) {
        KESTRO_FUZZ_CHECK(false, "the reader refuses what the writer wrote: %s", e.what());
    }
    KESTRO_FUZZ_CHECK(fuzz::SameValues(reread, SortedForExport(values)), "the values changed on the way round");
}

void CheckGptIni(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> raised, again;
    if (!RaiseGptVersion(bytes, bytes.size() % 2 == 0, &raised)) return;
    KESTRO_FUZZ_CHECK(RaiseGptVersion(raised, true, &again), "a raised gpt.ini cannot be raised again");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    Check(bytes, PolicyScope::User);
    Check(bytes, PolicyScope::Machine);
    CheckGptIni(bytes);
    return 0;
}
