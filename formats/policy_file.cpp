#include "formats/policy_file.h"

#include "formats/layout.h"
#include "core/bytes.h"
#include "core/localized.h"
#include "core/text.h"

#include <algorithm>

namespace kestro {

namespace {

using Place = FormatError::Place;

void PutUnit(std::vector<std::uint8_t>& out, char16_t c) {
    out.resize(out.size() + 2);
    StoreLe16(&out[out.size() - 2], c);
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t n) {
    out.resize(out.size() + 4);
    StoreLe32(&out[out.size() - 4], n);
}

void PutText(std::vector<std::uint8_t>& out, const std::u16string& text) {
    AppendUtf16Le(out, text);
    PutUnit(out, 0);
}

std::vector<std::uint8_t> Header() {
    std::vector<std::uint8_t> out(std::begin(layout::kPolSignature), std::end(layout::kPolSignature));
    PutU32(out, layout::kPolVersion);
    return out;
}

// Checks a value as the reader will, and appends its entry.
void PutEntry(std::vector<std::uint8_t>& out, const RegValue& value) {
    ExportedValue form;
    const std::string problem = ExportProblem(value, &form);
    if (!problem.empty()) throw FormatError(Place::None, 0, DescribeValue(value) + ": " + problem);
    PutUnit(out, layout::kPolOpen);
    PutText(out, form.path);
    PutUnit(out, layout::kPolSeparator);
    PutText(out, form.name);
    PutUnit(out, layout::kPolSeparator);
    PutU32(out, value.type);
    PutUnit(out, layout::kPolSeparator);
    PutU32(out, static_cast<std::uint32_t>(value.data.size()));
    PutUnit(out, layout::kPolSeparator);
    out.insert(out.end(), value.data.begin(), value.data.end());
    PutUnit(out, layout::kPolClose);
}

// A cursor over the file's bytes that knows its offset for every message.
class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    [[noreturn]] void Fail(std::size_t at, const std::string& what) const {
        throw FormatError(Place::Offset, at, what);
    }
    std::size_t pos() const { return pos_; }
    bool AtEnd() const { return pos_ == bytes_.size(); }
    // `missing` (with `what` in its %1) completes "the file is cut short:
    // ..."; the message is built only when it is needed, as this runs for
    // every character.
    void Need(std::size_t n, const char* missing, const char* what = "") const {
        if (bytes_.size() - pos_ < n)
            Fail(pos_, Localized("the file is cut short: %1", Localized(missing, Localized(what))));
    }
    char16_t Unit(const char* missing, const char* what = "") {
        Need(2, missing, what);
        const char16_t c = LoadLe16(&bytes_[pos_]);
        pos_ += 2;
        return c;
    }
    std::uint32_t U32(const char* what) {
        Need(4, N_("no room for %1"), what);
        const std::uint32_t n = LoadLe32(&bytes_[pos_]);
        pos_ += 4;
        return n;
    }
    void Expect(char16_t delimiter, const char* what) {
        std::size_t at = pos_;
        char16_t c = Unit(N_("expected %1"), what);
        if (c != delimiter)
            Fail(at, Localized("expected %1 (UTF-16LE '%2')", Localized(what),
                               std::string(1, static_cast<char>(delimiter))));
    }
    // A text up to its zero, of at most `limit` characters.
    std::u16string Text(std::size_t limit, const char* what) {
        std::u16string out;
        for (;;) {
            std::size_t at = pos_;
            char16_t c = Unit(N_("the %1 has no terminating zero"), what);
            if (c == 0) return out;
            if (out.size() == limit)
                Fail(at, Localized("the %1 is longer than %2 characters", Localized(what), limit));
            out += c;
        }
    }
    std::vector<std::uint8_t> Data(std::size_t n) {
        std::vector<std::uint8_t> out(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                                      bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return out;
    }
    std::size_t Remaining() const { return bytes_.size() - pos_; }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

// Registry value types that Group Policy carries: not the link and the
// hardware resource lists, which only the system writes.
bool KnownType(std::uint32_t type) {
    return type <= kRegDwordBigEndian || type == kRegMultiSz || type == kRegQword;
}

}  // namespace

RegValue ToPolicyLocation(RegValue value) {
    if (value.root == kHkeyClassesRoot) {
        value.root = kHkeyLocalMachine;
        value.keyPath = layout::kPolClassesPrefix + value.keyPath;
    }
    return value;
}

bool TattoosWhenRemoved(const RegValue& value) {
    static const char* const kPolicyKeys[] = {"Software\\Policies", "Software\\Microsoft\\Windows\\CurrentVersion\\Policies"};
    const std::string& path = ToPolicyLocation(value).keyPath;
    for (const char* key : kPolicyKeys) {
        std::string prefix(key);
        if (path.size() >= prefix.size() && SameAsciiNoCase(path.substr(0, prefix.size()), prefix) &&
            (path.size() == prefix.size() || path[prefix.size()] == '\\'))
            return false;
    }
    return true;
}

PolicyFiles WritePolicyFiles(const std::vector<RegValue>& values) {
    if (values.size() > layout::kMaxEntries)
        throw FormatError(Place::None, 0, Localized("more than %1 values", layout::kMaxEntries));
    std::vector<RegValue> placed;
    placed.reserve(values.size());
    for (const RegValue& value : values) {
        if (value.root != kHkeyCurrentUser && value.root != kHkeyLocalMachine && value.root != kHkeyClassesRoot)
            throw FormatError(Place::None, 0,
                              Localized("%1: not a root a policy file can carry", DescribeValue(value)));
        placed.push_back(ToPolicyLocation(value));
    }
    PolicyFiles files{Header(), Header()};
    for (const RegValue& value : SortedForExport(std::move(placed)))
        PutEntry(value.root == kHkeyCurrentUser ? files.user : files.machine, value);
    return files;
}

namespace {

// The 8 bytes before the first entry: "PReg" and version 1.
void ReadHeader(Reader& in, const std::vector<std::uint8_t>& bytes) {
    in.Need(layout::kPolHeaderBytes, N_("the header is 8 bytes, \"PReg\" and the version"));
    if (!std::equal(std::begin(layout::kPolSignature), std::end(layout::kPolSignature), bytes.begin()))
        in.Fail(0, Localized("not a Registry.pol file: the signature is not \"PReg\""));
    in.Data(4);
    std::uint32_t version = in.U32(N_("the header"));
    if (version != layout::kPolVersion)
        in.Fail(4, Localized("unsupported version %1; only version 1 exists", version));
}

// A key path or value name, refused where it is not a valid name.
std::u16string ReadName(Reader& in, std::size_t maxChars, const char* what, std::size_t* at,
                        std::string (*problemOf)(const std::u16string&)) {
    *at = in.pos();
    std::u16string name = in.Text(maxChars, what);
    const std::string problem = problemOf(name);
    if (!problem.empty()) in.Fail(*at, problem);
    return name;
}

std::string ToUtf8(Reader& in, const std::u16string& name, std::size_t at, const char* unpaired) {
    try {
        return StrictUtf16ToUtf8(name);
    } catch (const std::invalid_argument&) {
        in.Fail(at, Localized(unpaired));
    }
}

// The data of a DWORD or a text must be what its type says.
void CheckData(Reader& in, const RegValue& value, std::size_t sizeAt) {
    const std::size_t size = value.data.size();
    if (value.type == kRegDword && size != 4)
        in.Fail(sizeAt, Localized("a REG_DWORD entry has %1 bytes of data, not 4", size));
    if (value.type != kRegSz) return;
    std::u16string text;
    if (!TextFromData(value.data, &text))
        in.Fail(sizeAt, Localized("REG_SZ data is not one UTF-16 text ending in a zero"));
    if (text.size() > layout::kMaxTextChars)
        in.Fail(sizeAt, Localized("the text is longer than %1 characters", layout::kMaxTextChars));
}

// One entry: [key;name;type;size;data]
RegValue ReadEntry(Reader& in, KeyHandle root) {
    RegValue value;
    value.root = root;
    in.Expect(layout::kPolOpen, N_("[ at the start of an entry"));
    std::size_t keyAt = 0, nameAt = 0;
    const std::u16string path = ReadName(in, layout::kMaxKeyPathChars, N_("key path"), &keyAt, KeyPathProblem);
    in.Expect(layout::kPolSeparator, N_("; after the key path"));
    const std::u16string name = ReadName(in, layout::kMaxValueNameChars, N_("value name"), &nameAt, ValueNameProblem);
    value.keyPath = ToUtf8(in, path, keyAt, N_("the key path holds an unpaired surrogate"));
    value.name = ToUtf8(in, name, nameAt, N_("the value name holds an unpaired surrogate"));
    in.Expect(layout::kPolSeparator, N_("; after the value name"));
    const std::size_t typeAt = in.pos();
    value.type = in.U32(N_("the value type"));
    if (!KnownType(value.type)) in.Fail(typeAt, Localized("unknown value type %1", value.type));
    in.Expect(layout::kPolSeparator, N_("; after the value type"));
    const std::size_t sizeAt = in.pos();
    const std::uint32_t size = in.U32(N_("the data size"));
    if (size > layout::kPolMaxDataBytes)
        in.Fail(sizeAt, Localized("the data size %1 is above %2", size, layout::kPolMaxDataBytes));
    in.Expect(layout::kPolSeparator, N_("; after the data size"));
    if (size > in.Remaining())
        in.Fail(sizeAt, Localized("the data size %1 runs past the end of the file", size));
    value.data = in.Data(size);
    in.Expect(layout::kPolClose, N_("] after the data: the size does not match the data"));
    CheckData(in, value, sizeAt);
    return value;
}

}  // namespace

std::vector<RegValue> ReadPolicyFile(const std::vector<std::uint8_t>& bytes, PolicyScope scope,
                                     std::vector<std::size_t>* offsets) {
    if (offsets) offsets->clear();
    if (bytes.size() > layout::kMaxFileBytes)
        throw FormatError(Place::None, 0,
                          Localized("the file is larger than %1 bytes", layout::kMaxFileBytes));
    Reader in(bytes);
    ReadHeader(in, bytes);
    const KeyHandle root = scope == PolicyScope::User ? kHkeyCurrentUser : kHkeyLocalMachine;
    std::vector<RegValue> values;
    while (!in.AtEnd()) {
        if (values.size() == layout::kMaxEntries)
            in.Fail(in.pos(), Localized("more than %1 entries", layout::kMaxEntries));
        const std::size_t entryAt = in.pos();
        values.push_back(ReadEntry(in, root));
        if (offsets) offsets->push_back(entryAt);
    }
    return values;
}

}  // namespace kestro
