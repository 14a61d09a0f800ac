// What the .reg and Registry.pol writers and readers share besides the byte
// layout: the error they raise, value data, the checks every value
// must pass in both directions, and the order of an export.
#pragma once

#include "formats/reg_value.h"
#include "core/text.h"  // StrictUtf8ToUtf16 and StrictUtf16ToUtf8: a file that does not say exactly what it means is refused

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestro {

// A file that cannot be read, or values that cannot be written. The message
// already names the place: "line N: ..." or "offset N: ...".
class FormatError : public std::runtime_error {
public:
    enum class Place { None, Line, Offset };
    FormatError(Place place, std::size_t position, const std::string& what);
    Place place() const { return place_; }
    std::size_t position() const { return position_; }

private:
    Place place_;
    std::size_t position_;
};

// Value data as Windows stores it.
std::vector<std::uint8_t> DwordData(std::uint32_t value);
std::vector<std::uint8_t> TextData(const std::u16string& text);  // adds the zero
// Whether the data is a whole REG_SZ: UTF-16LE units, the last one zero and
// no other; then `text` gets it without the zero.
bool TextFromData(const std::vector<std::uint8_t>& data, std::u16string* text);

// Why a key path cannot be written or read back (empty when it can): empty
// names, a leading or trailing backslash, control characters, too long or
// too deep.
std::string KeyPathProblem(const std::u16string& path);
std::string ValueNameProblem(const std::u16string& name);

// A value as an export file carries it, in UTF-16: key path, value name
// and, for a REG_SZ, its text without the zero.
struct ExportedValue {
    std::u16string path, name, text;
};
// Why a value cannot be written to a .reg or Registry.pol file, the first
// reason found (empty when it can), so that every export reads back:
// - PlaceProblem: the key path (UTF-8, then KeyPathProblem), then the value
//   name (UTF-8, then ValueNameProblem);
// - DataProblem: a REG_DWORD of 4 bytes, or a REG_SZ that is one text ending
//   in a zero and within the limit; no other type;
// - ExportProblem: both, in that order.
// `out`, when given, gets what was converted.
std::string PlaceProblem(const RegValue& value, ExportedValue* out = nullptr);
std::string DataProblem(const RegValue& value, ExportedValue* out = nullptr);
std::string ExportProblem(const RegValue& value, ExportedValue* out = nullptr);

// Root names as regedit writes them; empty for any other handle.
std::u16string RootName(KeyHandle root);
// "HKEY_CURRENT_USER\path\"name\"", for messages.
std::string DescribeValue(const RegValue& value);

// The order of every export: by root (user, machine, classes), key path and
// value name, ignoring case; values that compare equal keep their order. A
// file written twice from one state is the same file, and two exports diff
// line by line.
std::vector<RegValue> SortedForExport(std::vector<RegValue> values);

}  // namespace kestro
