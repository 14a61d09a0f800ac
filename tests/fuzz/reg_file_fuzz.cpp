// The .reg reader on any bytes: it gives values the engine can store, within
// the limits, or refuses the file with a FormatError that names the place;
// nothing else. What it accepts, the writer writes again, and that file
// reads back as the same values in export order.
#include "formats/reg_file.h"
#include "tests/fuzz/format_checks.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace kestro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    std::vector<RegValue> values;
    std::vector<std::size_t> lines;
    try {
        values = ReadRegFile(bytes, &lines);
    } catch (const FormatError& e) {
        fuzz::CheckRefusal(e, size);
        return 0;
    }
    KESTRO_FUZZ_CHECK(values.size() <= layout::kMaxEntries, "%zu values", values.size());
    for (const RegValue& value : values) fuzz::CheckReadValue(value, false);
    // Each value's line: after the header, in file order, inside the file.
    KESTRO_FUZZ_CHECK(lines.size() == values.size(), "%zu lines for %zu values", lines.size(), values.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        KESTRO_FUZZ_CHECK(lines[i] >= 2 && lines[i] <= size / 2 && (i == 0 || lines[i] > lines[i - 1]),
                          "value %zu on line %zu", i, lines[i]);

    std::vector<std::uint8_t> again;
    try {
        again = WriteRegFile(values);
    } catch (const FormatError& e) {
        KESTRO_FUZZ_CHECK(false, "the writer refuses what the reader accepted: %s", e.what());
    }
    std::vector<RegValue> reread;
    try {
        reread = ReadRegFile(again);
    } catch (const FormatError& e) {
        KESTRO_FUZZ_CHECK(false, "the reader refuses what the writer wrote: %s", e.what());
    }
    KESTRO_FUZZ_CHECK(fuzz::SameValues(reread, SortedForExport(values)), "the values changed on the way round");
    return 0;
}
