#include "formats/reg_file.h"

#include "formats/layout.h"
#include "core/bytes.h"
#include "core/localized.h"

#include <cstdio>

namespace kestro {

namespace {

using Place = FormatError::Place;

std::u16string Quoted(const std::u16string& text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') out += u'\\';
        out += c;
    }
    out += u'"';
    return out;
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The value's key line and value line, without line ends; throws when it
// cannot be written.
void Lines(const RegValue& value, std::u16string* keyLine, std::u16string* valueLine) {
    auto fail = [&](const std::string& why) {
        throw FormatError(Place::None, 0, Localized("%1: %2", DescribeValue(value), why));
    };
    const std::u16string root = RootName(value.root);
    if (root.empty()) fail(Localized("not a root key a .reg file names"));
    ExportedValue form;
    const std::string problem = ExportProblem(value, &form);
    if (!problem.empty()) fail(problem);
    *keyLine = u"[" + root + u"\\" + form.path + u"]";
    std::u16string& line = *valueLine;
    line = form.name.empty() ? std::u16string(u"@") : Quoted(form.name);
    line += u'=';
    if (value.type == kRegDword) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(LoadLe32(value.data.data())));
        line += layout::kRegDwordPrefix;
        line += Ascii(digits);
    } else {
        for (char16_t c : form.text)
            if (c < 0x20) fail(Localized("the text holds a control character, which a .reg line cannot carry"));
        line += Quoted(form.text);
    }
}

// ---- reading ----

bool IsBlank(const std::u16string& line) {
    for (char16_t c : line)
        if (c != u' ' && c != u'\t') return false;
    return true;
}

class LineParser {
public:
    LineParser(const std::u16string& line, std::size_t number) : line_(line), number_(number) {}

    [[noreturn]] void Fail(const std::string& what) const { throw FormatError(Place::Line, number_, what); }

    bool AtEnd() const { return pos_ == line_.size(); }
    char16_t Peek() const { return AtEnd() ? 0 : line_[pos_]; }
    void Expect(char16_t c, const char* what) {
        if (Peek() != c) Fail(Localized("expected %1", Localized(what)));
        ++pos_;
    }
    bool Take(const char16_t* prefix) {
        std::u16string p(prefix);
        if (line_.compare(pos_, p.size(), p) != 0) return false;
        pos_ += p.size();
        return true;
    }

    // A quoted text with \\ and \" escapes; `limit` in characters.
    std::u16string Quoted(std::size_t limit, const char* what) {
        Expect(u'"', N_("a quotation mark"));
        std::u16string out;
        for (;;) {
            if (AtEnd()) Fail(Localized("the %1 has no closing quotation mark", Localized(what)));
            char16_t c = line_[pos_++];
            if (c == u'"') break;
            if (c == u'\\') {
                if (AtEnd() || (line_[pos_] != u'\\' && line_[pos_] != u'"'))
                    Fail(Localized("in the %1, a backslash must be followed by \\ or \"", Localized(what)));
                c = line_[pos_++];
            } else if (c < 0x20) {
                Fail(Localized("the %1 holds a control character", Localized(what)));
            }
            if (out.size() == limit)
                Fail(Localized("the %1 is longer than %2 characters", Localized(what), limit));
            out += c;
        }
        return out;
    }

    void Skip() { ++pos_; }

private:
    const std::u16string& line_;
    std::size_t number_;
    std::size_t pos_ = 0;
};

struct CurrentKey {
    KeyHandle root = 0;
    std::string path;
};

// A [KEY] line; with `edits`, also [-KEY], which sets *deletion.
CurrentKey ParseKeyLine(const std::u16string& line, std::size_t number, bool edits = false, bool* deletion = nullptr) {
    auto fail = [&](const std::string& what) -> CurrentKey { throw FormatError(Place::Line, number, what); };
    if (line.size() < 2 || line.back() != u']') return fail(Localized("a key line must end with ]"));
    std::u16string inside = line.substr(1, line.size() - 2);
    if (!inside.empty() && inside[0] == u'-') {
        if (!edits) return fail(Localized("deleting keys is not supported"));
        inside.erase(0, 1);
        *deletion = true;
    }
    std::size_t slash = inside.find(u'\\');
    std::u16string rootName = inside.substr(0, slash);
    CurrentKey key;
    for (const auto& r : layout::kRegRoots)
        if (SameAsciiNoCase(rootName, std::u16string(r.name))) key.root = r.root;
    if (key.root == 0)
        return fail(Localized("unknown root key; expected HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT"));
    if (slash == std::u16string::npos) return fail(Localized("a root key alone: values must lie below a key"));
    std::u16string path = inside.substr(slash + 1);
    std::string problem = KeyPathProblem(path);
    if (!problem.empty()) return fail(problem);
    try {
        key.path = StrictUtf16ToUtf8(path);
    } catch (const std::invalid_argument&) {
        return fail(Localized("the key path holds an unpaired surrogate"));
    }
    return key;
}

int HexDigit(char16_t c) {
    return c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
}

// After "hex": "(n):" or ":", then bytes as two hexadecimal digits each,
// separated by commas.
void ParseHex(LineParser& p, RegValue* value) {
    value->type = kRegBinary;
    if (p.Peek() == u'(') {
        p.Skip();
        std::uint32_t type = 0;
        int digits = 0;
        for (int d; (d = HexDigit(p.Peek())) >= 0; p.Skip()) {
            if (++digits > 8) p.Fail(Localized("a hex(n) type takes at most 8 hexadecimal digits"));
            type = (type << 4) | static_cast<std::uint32_t>(d);
        }
        if (digits == 0) p.Fail(Localized("hex( needs a type in hexadecimal digits"));
        p.Expect(u')', N_(") after the type"));
        value->type = type;
    }
    p.Expect(u':', N_(": after hex"));
    value->data.clear();
    while (!p.AtEnd()) {
        if (!value->data.empty()) p.Expect(u',', N_("a comma between bytes"));
        const int high = HexDigit(p.Peek());
        if (high < 0) p.Fail(Localized("a byte takes two hexadecimal digits"));
        p.Skip();
        const int low = HexDigit(p.Peek());
        if (low < 0) p.Fail(Localized("a byte takes two hexadecimal digits"));
        p.Skip();
        if (value->data.size() == layout::kRegMaxRawBytes)
            p.Fail(Localized("more than %1 bytes of hex data", layout::kRegMaxRawBytes));
        value->data.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
}

// A value line; with `edits`, also "Name"=- and hex values.
RegEdit ParseValueLine(const std::u16string& line, std::size_t number, const CurrentKey& key, bool edits = false) {
    RegEdit edit;
    RegValue& value = edit.value;
    LineParser p(line, number);
    if (key.root == 0) p.Fail(Localized("a value before any [key] line"));
    value.root = key.root;
    value.keyPath = key.path;
    std::u16string name;
    if (p.Peek() == u'@') {
        p.Expect(u'@', "@");
    } else {
        name = p.Quoted(layout::kMaxValueNameChars, N_("value name"));
        std::string problem = ValueNameProblem(name);
        if (!problem.empty()) p.Fail(problem);
    }
    try {
        value.name = StrictUtf16ToUtf8(name);
    } catch (const std::invalid_argument&) {
        p.Fail(Localized("the value name holds an unpaired surrogate"));
    }
    p.Expect(u'=', N_("= after the value name"));
    if (p.Peek() == u'"') {
        value.type = kRegSz;
        value.data = TextData(p.Quoted(layout::kMaxTextChars, N_("text")));
    } else if (p.Take(layout::kRegDwordPrefix)) {
        std::uint32_t n = 0;
        int digits = 0;
        while (!p.AtEnd()) {
            char16_t c = p.Peek();
            int d = c >= u'0' && c <= u'9' ? c - u'0'
                    : c >= u'a' && c <= u'f' ? c - u'a' + 10
                    : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                             : -1;
            if (d < 0) p.Fail(Localized("a dword takes hexadecimal digits only"));
            if (++digits > 8) p.Fail(Localized("a dword takes at most 8 hexadecimal digits"));
            n = (n << 4) | static_cast<std::uint32_t>(d);
            p.Skip();
        }
        if (digits == 0) p.Fail(Localized("a dword needs hexadecimal digits"));
        value.type = kRegDword;
        value.data = DwordData(n);
    } else if (p.Peek() == u'-') {
        if (!edits) p.Fail(Localized("deleting values is not supported"));
        p.Skip();
        edit.kind = RegEdit::Kind::DeleteValue;
        value.type = kRegNone;
    } else if (p.Take(layout::kRegHexPrefix)) {
        if (!edits) p.Fail(Localized("binary (hex) values are not supported; only text and dword"));
        ParseHex(p, &value);
        edit.raw = true;
    } else {
        p.Fail(Localized("expected a quoted text or dword: after ="));
    }
    if (!p.AtEnd()) p.Fail(Localized("unexpected characters after the value"));
    return edit;
}

// The key line of an edit.
std::u16string KeyLine(const RegEdit& edit) {
    const std::u16string root = RootName(edit.value.root);
    if (root.empty())
        throw FormatError(Place::None, 0, Localized("%1: not a root key a .reg file names", DescribeValue(edit.value)));
    const std::u16string path = StrictUtf8ToUtf16(edit.value.keyPath);
    const std::string problem = KeyPathProblem(path);
    if (!problem.empty()) throw FormatError(Place::None, 0, DescribeValue(edit.value) + ": " + problem);
    return std::u16string(edit.kind == RegEdit::Kind::DeleteKey ? u"[-" : u"[") + root + u"\\" + path + u"]";
}

// A raw value line: "Name"=hex(n):xx,xx or "Name"=- .
std::u16string RawValueLine(const RegEdit& edit) {
    const RegValue& value = edit.value;
    const std::u16string name = StrictUtf8ToUtf16(value.name);
    const std::string problem = ValueNameProblem(name);
    if (!problem.empty()) throw FormatError(Place::None, 0, DescribeValue(value) + ": " + problem);
    std::u16string line = name.empty() ? std::u16string(u"@") : Quoted(name);
    line += u'=';
    if (edit.kind == RegEdit::Kind::DeleteValue) return line + u'-';
    if (value.data.size() > layout::kRegMaxRawBytes)
        throw FormatError(Place::None, 0,
                          Localized("%1: more data than a raw .reg value carries", DescribeValue(value)));
    char number[16];
    std::snprintf(number, sizeof number, "%x", static_cast<unsigned>(value.type));
    line += layout::kRegHexPrefix;
    if (value.type != kRegBinary) line += u"(" + Ascii(number) + u")";
    line += u':';
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", value.data[i]);
        if (i) line += u',';
        line += Ascii(byte);
    }
    return line;
}

}  // namespace

std::vector<std::uint8_t> WriteRegFile(const std::vector<RegValue>& values) {
    if (values.size() > layout::kMaxEntries)
        throw FormatError(Place::None, 0, Localized("more than %1 values", layout::kMaxEntries));
    std::vector<std::uint8_t> out(std::begin(layout::kRegBom), std::end(layout::kRegBom));
    AppendUtf16Le(out, layout::kRegHeader);
    AppendUtf16Le(out, layout::kRegLineEnd);
    std::u16string currentKey;
    for (const RegValue& value : SortedForExport(values)) {
        std::u16string keyLine, valueLine;
        Lines(value, &keyLine, &valueLine);
        if (keyLine != currentKey) {
            AppendUtf16Le(out, layout::kRegLineEnd);
            AppendUtf16Le(out, keyLine);
            AppendUtf16Le(out, layout::kRegLineEnd);
            currentKey = keyLine;
        }
        AppendUtf16Le(out, valueLine);
        AppendUtf16Le(out, layout::kRegLineEnd);
    }
    // regedit ends its files with an empty line after the last value.
    AppendUtf16Le(out, layout::kRegLineEnd);
    return out;
}

std::vector<std::uint8_t> WriteRegEdits(const std::vector<RegEdit>& edits) {
    if (edits.size() > layout::kMaxEntries)
        throw FormatError(Place::None, 0, Localized("more than %1 changes", layout::kMaxEntries));
    std::vector<std::uint8_t> out(std::begin(layout::kRegBom), std::end(layout::kRegBom));
    AppendUtf16Le(out, layout::kRegHeader);
    AppendUtf16Le(out, layout::kRegLineEnd);
    std::u16string currentKey;
    for (const RegEdit& edit : edits) {
        std::u16string keyLine, valueLine;
        if (edit.kind == RegEdit::Kind::Value && !edit.raw) {
            Lines(edit.value, &keyLine, &valueLine);
        } else {
            keyLine = KeyLine(edit);
            if (edit.kind == RegEdit::Kind::Value || edit.kind == RegEdit::Kind::DeleteValue)
                valueLine = RawValueLine(edit);
        }
        // A key line for every deletion of a key, and wherever the key changes.
        if (keyLine != currentKey || edit.kind == RegEdit::Kind::DeleteKey) {
            AppendUtf16Le(out, layout::kRegLineEnd);
            AppendUtf16Le(out, keyLine);
            AppendUtf16Le(out, layout::kRegLineEnd);
            currentKey = edit.kind == RegEdit::Kind::DeleteKey ? std::u16string() : keyLine;
        }
        if (!valueLine.empty()) {
            AppendUtf16Le(out, valueLine);
            AppendUtf16Le(out, layout::kRegLineEnd);
        }
    }
    AppendUtf16Le(out, layout::kRegLineEnd);
    return out;
}

namespace {

// The checks on the whole file before its lines are read.
void CheckRegBytes(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() > layout::kMaxFileBytes)
        throw FormatError(Place::None, 0,
                          Localized("the file is larger than %1 bytes", layout::kMaxFileBytes));
    if (bytes.size() < 2 || bytes[0] != layout::kRegBom[0] || bytes[1] != layout::kRegBom[1])
        throw FormatError(Place::Line, 1, Localized("not a UTF-16LE file: the byte-order mark FF FE is missing"));
    if (bytes.size() % 2 != 0)
        throw FormatError(Place::Offset, bytes.size() - 1, Localized("the file ends inside a UTF-16 character"));
}

// The file's lines, one at a time, into the values (or, with `edits`, the
// edits) they give, each with its line number in *lines when asked for.
struct EditReader {
    bool edits;
    std::vector<std::size_t>* lines;
    std::vector<RegEdit> values;
    std::size_t valueCount = 0;
    CurrentKey key;

    void Read(const std::u16string& line, std::size_t number) {
        if (number == 1) {
            if (line != layout::kRegHeader)
                throw FormatError(Place::Line, 1,
                                  Localized("the first line must be \"Windows Registry Editor Version 5.00\""));
        } else if (IsBlank(line) || line[0] == u';') {
            // blank lines and comments
        } else if (line[0] == u'[') {
            ReadKey(line, number);
        } else if (line[0] == u'"' || line[0] == u'@') {
            if (valueCount++ == layout::kMaxEntries)
                throw FormatError(Place::Line, number,
                                  Localized("more than %1 values", layout::kMaxEntries));
            values.push_back(ParseValueLine(line, number, key, edits));
            if (lines) lines->push_back(number);
        } else {
            throw FormatError(Place::Line, number, Localized("expected a [key] line, a \"value\"= line or a comment"));
        }
    }

    void ReadKey(const std::u16string& line, std::size_t number) {
        bool deletion = false;
        key = ParseKeyLine(line, number, edits, &deletion);
        if (!edits) return;
        RegEdit edit;
        edit.kind = deletion ? RegEdit::Kind::DeleteKey : RegEdit::Kind::Key;
        edit.value = RegValue{key.root, key.path, std::string(), kRegNone, {}};
        values.push_back(std::move(edit));
        if (lines) lines->push_back(number);
        // Values below a deleted key have no key to go to.
        if (deletion) key = CurrentKey();
    }
};

std::vector<RegEdit> ReadEdits(const std::vector<std::uint8_t>& bytes, std::vector<std::size_t>* lines, bool edits) {
    if (lines) lines->clear();
    CheckRegBytes(bytes);
    EditReader reader{edits, lines, {}, 0, CurrentKey()};
    std::u16string line;
    std::size_t number = 1;
    auto finishLine = [&]() {
        reader.Read(line, number);
        line.clear();
        ++number;
    };
    bool pendingCr = false;
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        const char16_t c = LoadLe16(&bytes[i]);
        if (pendingCr && c != u'\n')
            throw FormatError(Place::Line, number, Localized("a carriage return without a line feed"));
        if (c == u'\r') {
            pendingCr = true;
            continue;
        }
        pendingCr = false;
        if (c == u'\n') {
            finishLine();
            continue;
        }
        if (c == 0) throw FormatError(Place::Line, number, Localized("a zero character"));
        const std::size_t longest = edits ? layout::kRegMaxRawLineChars : layout::kRegMaxLineChars;
        if (line.size() == longest)
            throw FormatError(Place::Line, number, Localized("the line is longer than %1 characters", longest));
        line += c;
    }
    if (pendingCr) throw FormatError(Place::Line, number, Localized("a carriage return without a line feed"));
    // Every line regedit writes ends with a line end; a last line without one
    // is what a cut-off copy looks like, and "dword:0000" cut from
    // "dword:00000004" would otherwise read as another number.
    if (!line.empty())
        throw FormatError(Place::Line, number, Localized("the last line has no line end: the file is cut short"));
    if (number == 1) finishLine();
    return std::move(reader.values);
}

}  // namespace

std::vector<RegValue> ReadRegFile(const std::vector<std::uint8_t>& bytes, std::vector<std::size_t>* lines) {
    std::vector<RegValue> values;
    for (RegEdit& edit : ReadEdits(bytes, lines, false)) values.push_back(std::move(edit.value));
    return values;
}

std::vector<RegEdit> ReadRegEdits(const std::vector<std::uint8_t>& bytes, std::vector<std::size_t>* lines) {
    return ReadEdits(bytes, lines, true);
}

}  // namespace kestro
