#include "registry/system_parameters.h"

#include "core/bytes.h"

namespace kestro {

namespace {

// The desktop key, level by level: created for a write, only opened for a
// read. Empty when a level is missing (a read) or refused.
UniqueKey OpenDesktop(RegistryStore& store, bool create, RegResult* rc) {
    UniqueKey key;
    KeyHandle base = kHkeyCurrentUser;
    for (const std::string& name : SplitKeyPath(kDesktopKeyPath)) {
        KeyHandle next = 0;
        *rc = create ? store.CreateKey(base, name, kWriteAccess, &next) : store.OpenKey(base, name, kReadAccess, &next);
        if (*rc != kErrorSuccess) return UniqueKey();
        key = UniqueKey(store, next);
        base = next;
    }
    return key;
}

}  // namespace

bool RegistrySystemParameters::Put(const char* name, std::uint32_t type, const std::uint8_t* data,
                                   std::uint32_t size) {
    RegResult rc = kErrorSuccess;
    UniqueKey key = OpenDesktop(store_, true, &rc);
    if (!key) return false;
    // Text through the wide call, numbers through the 8-bit one, as the
    // engine's cursor writes them.
    rc = type == kRegSz ? store_.SetValueW(key.Get(), name, type, data, size)
                        : store_.SetValue(key.Get(), name, type, data, size);
    return rc == kErrorSuccess;
}

bool RegistrySystemParameters::SetFontSmoothing(bool on) {
    // Windows keeps it as text: "2" on, "0" off (UTF-16 with its zero).
    std::uint8_t text[4] = {};
    StoreLe16(text, on ? u'2' : u'0');
    return Put(kFontSmoothingValue, kRegSz, text, sizeof text);
}

bool RegistrySystemParameters::SetFontSmoothingType(std::uint32_t type) {
    std::uint8_t data[4];
    StoreLe32(data, type);
    return Put(kFontSmoothingTypeValue, kRegDword, data, sizeof data);
}

bool RegistrySystemParameters::SetFontSmoothingOrientation(std::uint32_t orientation) {
    std::uint8_t data[4];
    StoreLe32(data, orientation);
    return Put(kFontSmoothingOrientationValue, kRegDword, data, sizeof data);
}

SystemParameters::Read RegistrySystemParameters::Get(const char* name, bool wide, std::uint32_t* type,
                                                     std::vector<std::uint8_t>* data) {
    *type = kRegNone;
    data->clear();
    // As the engine's other reads: a key that cannot be opened, or a value
    // whose size cannot be asked, counts as absent; only a failed fetch of
    // the data is an error.
    RegResult rc = kErrorSuccess;
    UniqueKey key = OpenDesktop(store_, false, &rc);
    if (!key) return Read::Ok;
    std::uint32_t size = 0;
    const auto query = [&](std::uint8_t* bytes, std::uint32_t* length) {
        return wide ? store_.QueryValueW(key.Get(), name, type, bytes, length)
                    : store_.QueryValue(key.Get(), name, type, bytes, length);
    };
    if (query(nullptr, &size) != kErrorSuccess) {
        *type = kRegNone;
        return Read::Ok;
    }
    data->assign(size, 0);
    if (size && query(data->data(), &size) != kErrorSuccess) return Read::Failed;
    data->resize(size);
    return Read::Ok;
}

SystemParameters::Read RegistrySystemParameters::GetFontSmoothing(bool* on) {
    *on = false;
    std::uint32_t type = kRegNone;
    std::vector<std::uint8_t> data;
    const Read read = Get(kFontSmoothingValue, true, &type, &data);
    if (read != Read::Ok || type == kRegNone) return read;
    if (type != kRegSz) return Read::WrongType;
    // The number the text starts with, as Windows reads it: on unless 0.
    std::uint32_t number = 0;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const std::uint16_t unit = LoadLe16(&data[i]);
        if (unit < u'0' || unit > u'9') break;
        number = number * 10 + (unit - u'0');
        if (number > 0) break;  // only zero or not zero matters
    }
    *on = number != 0;
    return Read::Ok;
}

SystemParameters::Read RegistrySystemParameters::GetFontSmoothingType(std::uint32_t* type) {
    *type = 0;
    std::uint32_t stored = kRegNone;
    std::vector<std::uint8_t> data;
    const Read read = Get(kFontSmoothingTypeValue, false, &stored, &data);
    if (read != Read::Ok || stored == kRegNone) return read;
    // Read through a 4-byte buffer, as the engine reads every number.
    if (data.size() > 4) return Read::Failed;
    if (stored != kRegDword) return Read::WrongType;
    std::uint8_t bytes[4] = {};
    for (std::size_t i = 0; i < data.size(); ++i) bytes[i] = data[i];
    *type = LoadLe32(bytes);
    return Read::Ok;
}

std::unique_ptr<SystemParameters> RegistryStore::OpenSystemParameters() {
    return std::make_unique<RegistrySystemParameters>(*this);
}

std::unique_ptr<SystemParameters> ForwardingRegistryStore::OpenSystemParameters() {
    return inner_.OpenSystemParameters();
}

}  // namespace kestro
