#include "ctl/current_state.h"
#include "ctl/messages.h"

#include "ctl/prior_state.h"

#include "core/bytes.h"
#include "core/text.h"
#include "settings/uFunctions.h"

#include <algorithm>
#include <vector>

namespace kestro {

namespace {

struct Failure {
    SettingState::Status status;
    std::string detail;
    std::string message;
};

std::string ErrorText(RegResult rc) {
    switch (rc) {
        case kErrorAccessDenied: return Tr("access denied");
        case kErrorFileNotFound: return Tr("not found");
        default: return Tr("error %1", rc);
    }
}

// The row's key, opened level by level for reading; an empty key when a
// level is missing, since then no value below it exists.
UniqueKey OpenForReading(RegistryStore& store, const Setting& row, const std::string& valueName) {
    UniqueKey key;
    KeyHandle base = row.root;
    std::string path = row.keyPath;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('\\', start);
        const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        KeyHandle next = 0;
        const RegResult rc = store.OpenKey(base, name, kReadAccess, &next);
        if (rc == kErrorFileNotFound) return UniqueKey();
        if (rc != kErrorSuccess)
            throw Failure{SettingState::Status::Unreadable, ErrorText(rc), FailedToGetMessage(valueName)};
        key = UniqueKey(store, next);
        base = next;
        if (end == std::string::npos) return key;
        start = end + 1;
    }
}

// The value's type and bytes; false when it is absent. `wide` reads texts
// as UTF-16, as they are stored, so that none is lost to the code page.
bool QueryRaw(RegistryStore& store, KeyHandle key, const std::string& name, std::uint32_t* type,
              std::vector<std::uint8_t>* data, bool wide = false) {
    const auto query = [&](std::uint8_t* bytes, std::uint32_t* size) {
        return wide ? store.QueryValueW(key, name, type, bytes, size) : store.QueryValue(key, name, type, bytes, size);
    };
    std::uint32_t size = 0;
    RegResult rc = query(nullptr, &size);
    if (rc == kErrorFileNotFound) return false;
    if (rc == kErrorSuccess) {
        data->assign(size, 0);
        rc = query(data->empty() ? nullptr : data->data(), &size);
        if (rc == kErrorSuccess) data->resize(size);
    }
    if (rc != kErrorSuccess)
        throw Failure{SettingState::Status::Unreadable, ErrorText(rc), FailedToGetMessage(name)};
    return true;
}

// UTF-16LE up to the first zero (a stored text may lack its own).
std::wstring FromUtf16(const std::vector<std::uint8_t>& data) {
    std::u16string units = Utf16FromLeBytes(data);
    units.resize(std::min(units.size(), units.find(u'\0')));
    return Utf16ToWide(units);
}

std::int32_t ReadNumber(RegistryStore& store, const UniqueKey& key, const std::string& name) {
    if (!key) return 0;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (!QueryRaw(store, key.Get(), name, &type, &data)) return 0;
    // The engine reads through a 4-byte buffer: data that does not fit fails
    // there first, whatever its type; then the type; a shorter REG_DWORD
    // reads as the bytes it has, the rest zero.
    if (type != kRegDword)
        throw Failure{SettingState::Status::WrongType, Tr("%1 is %2, not REG_DWORD", name, RegTypeName(type)),
                      data.size() > 4 ? FailedToGetMessage(name) : InvalidDataTypeMessage(name)};
    if (data.size() > 4)
        throw Failure{SettingState::Status::WrongType,
                      Tr("%1 is a REG_DWORD of %2 bytes", name, data.size()),
                      FailedToGetMessage(name)};
    std::uint8_t bytes[4] = {};
    std::copy(data.begin(), data.end(), bytes);
    return static_cast<std::int32_t>(LoadLe32(bytes));
}

// What the window's read-back asks: the system parameters of this store,
// which never open a key for writing.
SettingState ReadFontSmoothingState(RegistryStore& store, const Setting& row) {
    SettingState state;
    // The parameters read a key they cannot open as absent, as the window
    // does; here, as for every other setting, a refused key is unreadable
    // rather than off, so that a saved profile never turns smoothing off.
    try {
        OpenForReading(store, row, row.valueNames[0]);
    } catch (const Failure& failure) {
        state.status = failure.status;
        state.detail = failure.detail;
        state.message = failure.message;
        return state;
    }
    bool down = false;
    const char* value = nullptr;
    switch (Zfunctions::ReadFontSmoothing(*store.OpenSystemParameters(), &down, &value)) {
        case SystemParameters::Read::Ok:
            state.value = SettingValue::Toggle(down);
            break;
        case SystemParameters::Read::Failed:
            state.status = SettingState::Status::Unreadable;
            state.detail = Tr("%1 cannot be read", value);
            state.message = FailedToGetMessage(value);
            break;
        case SystemParameters::Read::WrongType:
            state.status = SettingState::Status::WrongType;
            state.detail = Tr("%1 is not of the type Windows keeps it in", value);
            state.message = InvalidDataTypeMessage(value);
            break;
    }
    return state;
}

}  // namespace

std::string RegTypeName(std::uint32_t type) {
    switch (type) {
        case kRegNone: return "REG_NONE";
        case kRegSz: return "REG_SZ";
        case kRegExpandSz: return "REG_EXPAND_SZ";
        case kRegBinary: return "REG_BINARY";
        case kRegDword: return "REG_DWORD";
        case kRegDwordBigEndian: return "REG_DWORD_BIG_ENDIAN";
        case kRegMultiSz: return "REG_MULTI_SZ";
        case kRegQword: return "REG_QWORD";
        default: return Tr("type %1", type);
    }
}

SettingState ReadSettingState(RegistryStore& store, const Setting& row) {
    SettingState state;
    if (row.readBack == ReadRule::FontSmoothing) return ReadFontSmoothingState(store, row);
    try {
        const std::string first = row.valueNames[0];
        UniqueKey key = OpenForReading(store, row, first);
        switch (KindOf(row)) {
            case ValueKind::Toggle:
                state.value = SettingValue::Toggle(IsDownFromValues(
                    row, [&](std::size_t i) { return ReadNumber(store, key, row.valueNames[i]); }));
                break;
            case ValueKind::Number:
                state.value = SettingValue::Number(ReadNumber(store, key, first));
                break;
            case ValueKind::Text: {
                std::uint32_t type = 0;
                std::vector<std::uint8_t> data;
                if (!key || !QueryRaw(store, key.Get(), first, &type, &data, true)) {
                    state.status = SettingState::Status::NotSet;
                    state.value = SettingValue::Text(std::wstring());
                    break;
                }
                if (type != kRegSz && type != kRegExpandSz)
                    throw Failure{SettingState::Status::WrongType, Tr("%1 is %2, not REG_SZ", first, RegTypeName(type)),
                                  InvalidDataTypeMessage(first)};
                state.value = SettingValue::Text(FromUtf16(data));
                break;
            }
            case ValueKind::Action:
                state.value.kind = ValueKind::Action;
                break;
        }
    } catch (const Failure& failure) {
        state.status = failure.status;
        state.detail = failure.detail;
        state.message = failure.message;
    }
    return state;
}

SettingState ReadEnforcedState(RegistryStore& store, const Setting& row, const LocalGroupPolicy& gpo) {
    SettingState state = ReadSettingState(store, row);
    if (!row.HasMachineCopy()) return state;
    const PolicyPlaces places = ReadPolicyPlaces(store, row, gpo);
    state.notes.insert(state.notes.end(), places.notes.begin(), places.notes.end());
    std::int32_t value = 0;
    unsigned sources = 0;
    if (!places.Decides(&value, &sources)) return state;
    const SettingValue enforced = KindOf(row) == ValueKind::Toggle ? SettingValue::Toggle(value == row.down[0])
                                                                   : SettingValue::Number(value);
    // The user's own value counts as a source too where it is stored and
    // says the same; not when a domain's object wrote it.
    PriorState own;
    own.Add(row);
    std::string unread;
    if (places.domainUser.empty() && state.status == SettingState::Status::Ok && state.value == enforced && own.Read(store, &unread) &&
        std::any_of(own.Values().begin(), own.Values().end(), [](const PriorValue& v) { return v.present; }))
        sources |= kSourceUser;
    state.status = SettingState::Status::Ok;
    state.value = enforced;
    state.detail.clear();
    state.message.clear();
    state.sources = sources;
    return state;
}

}  // namespace kestro

namespace kestro {

bool InScope(const Setting& row, const std::string& scope) {
    if (scope.empty()) return true;
    return row.IsMachineWide() == SameAsciiNoCase(scope, "machine");
}

namespace {

// Whether the profile can carry the state's value; notes why not.
bool Carried(const Setting& row, const SettingState& state, std::vector<std::string>* notes) {
    if (state.value.kind != ValueKind::Text) return true;
    if (state.value.text.find_first_of(L"\r\n") != std::wstring::npos) {
        notes->push_back(Tr("%1 is left out: its text has a line break", row.name));
        return false;
    }
    if (state.value.text.size() > kMaxProfileTextChars) {
        // A profile with it would be refused when applied.
        notes->push_back(Tr("%1 is left out: its text is longer than %2 characters", row.name, kMaxProfileTextChars));
        return false;
    }
    return true;
}

}  // namespace

bool CurrentProfile(RegistryStore& store, Profile* profile, std::vector<std::string>* notes, const std::string& scope,
                    bool enforced) {
    bool complete = true;
    profile->entries.clear();
    const LocalGroupPolicy gpo = enforced ? LocalGroupPolicy::Read(store) : LocalGroupPolicy();
    for (const Setting& row : kCatalogue) {
        if (!row.HasState() || !InScope(row, scope)) continue;
        const SettingState state = enforced ? ReadEnforcedState(store, row, gpo) : ReadSettingState(store, row);
        // None of its values stored, and nothing else holds it: Windows'
        // own default, which only "default" gives back (off or 0 would
        // store a value).
        PriorState stored;
        stored.Add(row);
        std::string unread;
        if (state.sources == kSourceUser && stored.Read(store, &unread) &&
            std::none_of(stored.Values().begin(), stored.Values().end(), [](const PriorValue& v) { return v.present; })) {
            profile->entries.push_back({&row, SettingValue::Default(KindOf(row)), 0});
            continue;
        }
        switch (state.status) {
            case SettingState::Status::Ok:
                if (Carried(row, state, notes)) profile->entries.push_back({&row, state.value, 0});
                else complete = false;
                break;
            case SettingState::Status::NotSet:
                notes->push_back(Tr("%1 is not set", row.name));
                break;
            case SettingState::Status::WrongType:
            case SettingState::Status::Unreadable:
                notes->push_back(Tr("%1 is left out: %2", row.name, state.detail));
                complete = false;
                break;
        }
    }
    return complete;
}

}  // namespace kestro
