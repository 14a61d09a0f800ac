#include "formats/values.h"

#include "formats/layout.h"
#include "platform/text.h"

#include <algorithm>

namespace kestro {

FormatError::FormatError(Place place, std::size_t position, const std::string& what)
    : std::runtime_error(place == Place::Line     ? "line " + std::to_string(position) + ": " + what
                         : place == Place::Offset ? "offset " + std::to_string(position) + ": " + what
                                                  : what),
      place_(place),
      position_(position) {}

std::u16string StrictUtf8ToUtf16(const std::string& text) {
    std::u16string out;
    std::size_t i = 0;
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < text.size()) {
        unsigned char lead = byte(i);
        std::uint32_t cp;
        std::size_t extra;
        if (lead < 0x80) {
            cp = lead;
            extra = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07;
            extra = 3;
        } else {
            throw std::invalid_argument("not UTF-8");
        }
        if (i + extra >= text.size())
            throw std::invalid_argument("not UTF-8: cut short");
        for (std::size_t k = 1; k <= extra; ++k) {
            unsigned char c = byte(i + k);
            if ((c & 0xC0) != 0x80) throw std::invalid_argument("not UTF-8");
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode are not text.
        static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            throw std::invalid_argument("not UTF-8");
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += extra + 1;
    }
    return out;
}

std::string StrictUtf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                throw std::invalid_argument("unpaired surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            throw std::invalid_argument("unpaired surrogate");
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::vector<std::uint8_t> DwordData(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> TextData(const std::u16string& text) {
    std::vector<std::uint8_t> data;
    data.reserve(2 * (text.size() + 1));
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

bool TextFromData(const std::vector<std::uint8_t>& data, std::u16string* text) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    std::u16string out;
    for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) return false;
        out += c;
    }
    if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) return false;
    *text = std::move(out);
    return true;
}

std::string KeyPathProblem(const std::u16string& path) {
    if (path.empty()) return "the key path is empty";
    if (path.size() > layout::kMaxKeyPathChars)
        return "the key path is longer than " + std::to_string(layout::kMaxKeyPathChars) + " characters";
    std::size_t depth = 1;
    char16_t previous = u'\\';
    for (char16_t c : path) {
        if (c < 0x20 || c == 0x7F) return "the key path holds a control character";
        if (c == u'\\') {
            if (previous == u'\\') return "the key path has an empty key name";
            ++depth;
        }
        previous = c;
    }
    if (previous == u'\\') return "the key path ends with a backslash";
    if (depth > layout::kMaxKeyDepth)
        return "the key path is deeper than " + std::to_string(layout::kMaxKeyDepth) + " levels";
    return std::string();
}

std::string ValueNameProblem(const std::u16string& name) {
    if (name.size() > layout::kMaxValueNameChars)
        return "the value name is longer than " + std::to_string(layout::kMaxValueNameChars) + " characters";
    for (char16_t c : name)
        if (c < 0x20 || c == 0x7F) return "the value name holds a control character";
    return std::string();
}

std::u16string RootName(KeyHandle root) {
    for (const auto& r : layout::kRegRoots)
        if (r.root == root) return r.name;
    return std::u16string();
}

std::string DescribeValue(const RegValue& value) {
    std::string root = StrictUtf16ToUtf8(RootName(value.root));
    if (root.empty()) root = "(unknown root)";
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
