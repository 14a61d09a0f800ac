#include "ctl/notify.h"

namespace kestro {

RegResult WriteRecordingStore::CreateKey(KeyHandle base, const std::string& name, std::uint32_t access,
                                         KeyHandle* result) {
    const RegResult code = inner_.CreateKey(base, name, access, result);
    if (code == kErrorSuccess) roots_[*result] = RootOf(base);
    return code;
}

RegResult WriteRecordingStore::OpenKey(KeyHandle base, const std::string& name, std::uint32_t access,
                                       KeyHandle* result) {
    const RegResult code = inner_.OpenKey(base, name, access, result);
    if (code == kErrorSuccess) roots_[*result] = RootOf(base);
    return code;
}

RegResult WriteRecordingStore::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                        const std::uint8_t* data, std::uint32_t size) {
    const RegResult code = inner_.SetValue(key, name, type, data, size);
    Note(code, key);
    return code;
}

RegResult WriteRecordingStore::SetValueW(KeyHandle key, const std::string& name, std::uint32_t type,
                                         const std::uint8_t* data, std::uint32_t size) {
    const RegResult code = inner_.SetValueW(key, name, type, data, size);
    Note(code, key);
    return code;
}

RegResult WriteRecordingStore::DeleteKey(KeyHandle base, const std::string& name) {
    const RegResult code = inner_.DeleteKey(base, name);
    Note(code, base);
    return code;
}

RegResult WriteRecordingStore::CloseKey(KeyHandle key) {
    // Gone whatever the answer: a failed close still frees the handle, and
    // the system may give its number to the next key opened.
    roots_.erase(key);
    return inner_.CloseKey(key);
}

KeyHandle WriteRecordingStore::RootOf(KeyHandle key) const {
    const auto found = roots_.find(key);
    return found == roots_.end() ? key : found->second;
}

void WriteRecordingStore::Note(RegResult result, KeyHandle key) {
    if (result != kErrorSuccess) return;
    switch (RootOf(key)) {
        case kHkeyCurrentUser: written_.user = true; break;
        case kHkeyLocalMachine:
        case kHkeyClassesRoot: written_.machine = true; break;
        default:
            // A handle of unknown origin: telling both costs a message.
            written_.user = written_.machine = true;
            break;
    }
}

void NotifyWritten(const WrittenScopes& written, PolicyBroadcaster* broadcaster) {
    if (broadcaster && written.Any()) broadcaster->Broadcast(written);
}

}  // namespace kestro
