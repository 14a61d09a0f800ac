#include "formats/values.h"

#include "formats/layout.h"
#include "core/bytes.h"
#include "core/localized.h"

#include <algorithm>

namespace kestro {

FormatError::FormatError(Place place, std::size_t position, const std::string& what)
    : std::runtime_error(place == Place::Line     ? Localized("line %1: %2", position, what)
                         : place == Place::Offset ? Localized("offset %1: %2", position, what)
                                                  : what),
      place_(place),
      position_(position) {}

std::vector<std::uint8_t> DwordData(std::uint32_t value) {
    std::vector<std::uint8_t> data(4);
    StoreLe32(data.data(), value);
    return data;
}

std::vector<std::uint8_t> TextData(const std::u16string& text) {
    std::vector<std::uint8_t> data;
    data.reserve(2 * (text.size() + 1));
    AppendUtf16Le(data, text);
    AppendUtf16Le(data, std::u16string(1, u'\0'));
    return data;
}

bool TextFromData(const std::vector<std::uint8_t>& data, std::u16string* text) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    std::u16string out = Utf16FromLeBytes(data);
    if (out.find(u'\0') != out.size() - 1) return false;
    out.pop_back();
    *text = std::move(out);
    return true;
}

std::string KeyPathProblem(const std::u16string& path) {
    if (path.empty()) return Localized("the key path is empty");
    if (path.size() > layout::kMaxKeyPathChars)
        return Localized("the key path is longer than %1 characters", layout::kMaxKeyPathChars);
    std::size_t depth = 1;
    char16_t previous = u'\\';
    for (char16_t c : path) {
        if (c < 0x20 || c == 0x7F) return Localized("the key path holds a control character");
        if (c == u'\\') {
            if (previous == u'\\') return Localized("the key path has an empty key name");
            ++depth;
        }
        previous = c;
    }
    if (previous == u'\\') return Localized("the key path ends with a backslash");
    if (depth > layout::kMaxKeyDepth)
        return Localized("the key path is deeper than %1 levels", layout::kMaxKeyDepth);
    return std::string();
}

std::string ValueNameProblem(const std::u16string& name) {
    if (name.size() > layout::kMaxValueNameChars)
        return Localized("the value name is longer than %1 characters", layout::kMaxValueNameChars);
    for (char16_t c : name)
        if (c < 0x20 || c == 0x7F) return Localized("the value name holds a control character");
    return std::string();
}

std::string PlaceProblem(const RegValue& value, ExportedValue* out) {
    ExportedValue mine;
    ExportedValue& to = out ? *out : mine;
    try {
        to.path = StrictUtf8ToUtf16(value.keyPath);
    } catch (const std::invalid_argument&) {
        return Localized("the key path is not UTF-8");
    }
    std::string problem = KeyPathProblem(to.path);
    if (!problem.empty()) return problem;
    try {
        to.name = StrictUtf8ToUtf16(value.name);
    } catch (const std::invalid_argument&) {
        return Localized("the value name is not UTF-8");
    }
    return ValueNameProblem(to.name);
}

std::string DataProblem(const RegValue& value, ExportedValue* out) {
    if (value.type == kRegDword) {
        if (value.data.size() != 4) return Localized("a REG_DWORD needs 4 bytes of data");
    } else if (value.type == kRegSz) {
        std::u16string text;
        if (!TextFromData(value.data, &text)) return Localized("REG_SZ data is not one UTF-16 text ending in a zero");
        if (text.size() > layout::kMaxTextChars)
            return Localized("the text is longer than %1 characters", layout::kMaxTextChars);
        if (out) out->text = std::move(text);
    } else {
        return Localized("only REG_SZ and REG_DWORD values can be written");
    }
    return std::string();
}

std::string ExportProblem(const RegValue& value, ExportedValue* out) {
    std::string problem = PlaceProblem(value, out);
    return problem.empty() ? DataProblem(value, out) : problem;
}

std::u16string RootName(KeyHandle root) {
    for (const auto& r : layout::kRegRoots)
        if (r.root == root) return r.name;
    return std::u16string();
}

std::string DescribeValue(const RegValue& value) {
    std::string root = StrictUtf16ToUtf8(RootName(value.root));
    if (root.empty()) root = Localized("(unknown root)");
    return root + "\\" + value.keyPath + "\\\"" + value.name + "\"";
}

namespace {

int RootRank(KeyHandle root) {
    if (root == kHkeyCurrentUser) return 0;
    if (root == kHkeyLocalMachine) return 1;
    if (root == kHkeyClassesRoot) return 2;
    return 3;
}

}  // namespace

std::vector<RegValue> SortedForExport(std::vector<RegValue> values) {
    std::stable_sort(values.begin(), values.end(), [](const RegValue& a, const RegValue& b) {
        if (RootRank(a.root) != RootRank(b.root)) return RootRank(a.root) < RootRank(b.root);
        int byKey = CompareAsciiNoCase(a.keyPath, b.keyPath);
        if (byKey != 0) return byKey < 0;
        return CompareAsciiNoCase(a.name, b.name) < 0;
    });
    return values;
}

}  // namespace kestro
