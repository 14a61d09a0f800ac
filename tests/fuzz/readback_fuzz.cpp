// The window's start-up read-back over a registry state made from the input:
// values of any type and size under the keys the catalogue reads, keys the
// user may not open, and a store operation that fails at its Nth call. The
// window either shows a state or shows the error box with one of the
// cursor's read errors; nothing else may happen, no handle may stay open,
// and no value may be created, changed or deleted. kestroctl's reader of the
// same state must agree with what the window shows, and the profile it
// saves of that state must read back.
//
// Input: records until the bytes run out; the first byte of each says which.
//   value:   slot, flags, [type u32 LE], length u16 LE, data
//            (slots past the read-back's are the texts kestroctl lists)
//            (length bit 15: (length & 0x7fff) * 2 copies of one byte)
//   deny:    slot, depth       - no right below the first `depth` levels
//   failure: op, n, error      - the nth call of op fails with error
//   noise:   slot, name length, name, type, data length, data
//            - a value the read-back does not read, under a key it does
#include "ctl/current_state.h"
#include "ctl/profile.h"
#include "registry/memory_registry.h"
#include "settings/catalogue.h"
#include "tests/fakes.h"
#include "tests/fuzz/fuzz_check.h"
#include "ui/startup.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace kestro;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint32_t Le(int bytes) {
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        return v;
    }
    std::vector<std::uint8_t> Bytes(std::size_t n) {
        n = std::min(n, size_ - std::min(pos_, size_));
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// One value the read-back reads.
struct Slot {
    KeyHandle root;
    std::string path;
    std::string name;
    bool text = false;  // font smoothing's switch, which Windows keeps as text
};

std::vector<Slot> ReadSlots() {
    std::vector<Slot> slots;
    for (const Setting& row : kCatalogue) {
        if (row.readBack == ReadRule::None) continue;
        for (std::size_t i = 0; i < row.ValueCount(); ++i)
            slots.push_back({row.root, row.keyPath, row.valueNames[i], row.readBack == ReadRule::FontSmoothing && i == 0});
    }
    return slots;
}

// The texts, which the window does not read back but kestroctl lists.
std::vector<Slot> TextSlots() {
    std::vector<Slot> slots;
    for (const Setting& row : kCatalogue)
        if (row.shape == WriteShape::RootedText) slots.push_back({row.root, row.keyPath, row.valueNames[0]});
    return slots;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::vector<std::string> Levels(const std::string& path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find('\\', start);
        out.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return out;
        start = end + 1;
    }
}

class FormView final : public IMainFormView {
public:
    IToggle& Toggle(const char* control) override { return toggles_[control]; }
    void SetRecentDocsCount(std::int32_t count) override {
        count_ = count;
        ++countSets_;
    }
    void SetApplicationTitle(const std::wstring&) override {}
    void ClearSystemInfo() override {}
    void AppendSystemInfoLine(const std::wstring&) override {}
    void SetNoticeCaption(const std::wstring&) override {}

    std::map<std::string, test::FakeToggle> toggles_;
    std::int32_t count_ = 0;
    int countSets_ = 0;
};

class Presenter final : public IMessagePresenter {
public:
    void ShowError(const std::wstring& text) override { shown_.push_back(text); }
    std::vector<std::wstring> shown_;
};

constexpr MemoryRegistryStore::Op kOps[] = {
    MemoryRegistryStore::Op::Any,      MemoryRegistryStore::Op::CreateKey,    MemoryRegistryStore::Op::OpenKey,
    MemoryRegistryStore::Op::QueryValue, MemoryRegistryStore::Op::SetValue,   MemoryRegistryStore::Op::QueryInfoKey,
    MemoryRegistryStore::Op::EnumKey,  MemoryRegistryStore::Op::DeleteKey,    MemoryRegistryStore::Op::CloseKey};
constexpr RegResult kErrors[] = {kErrorAccessDenied, kErrorFileNotFound, kErrorMoreData, kErrorInvalidHandle};

// The number a REG_DWORD of up to 4 bytes reads as: the bytes it has, the
// rest zero.
std::int32_t DwordOf(const std::vector<std::uint8_t>& data) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < data.size() && i < 4; ++i) v |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    return static_cast<std::int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<Slot> slots = ReadSlots();
    static const std::vector<Slot> texts = TextSlots();
    Input in(data, size);
    MemoryRegistryStore store;
    bool disturbed = false;  // a denial or an injected failure: the oracle below does not apply

    while (!in.Empty()) {
        std::uint8_t kind = in.Byte() % 4;
        const std::size_t pick = in.Byte() % (slots.size() + texts.size());
        const Slot& slot = pick < slots.size() ? slots[pick] : texts[pick - slots.size()];
        if (kind == 0) {
            std::uint8_t flags = in.Byte();
            std::uint32_t type = (flags & 2) ? in.Le(4) : (flags >> 2) % 12;
            std::uint32_t length = in.Le(2);
            std::vector<std::uint8_t> bytes;
            if (length & 0x8000) {
                bytes.assign(static_cast<std::size_t>(length & 0x7fff) * 2, in.Byte());
            } else {
                bytes = in.Bytes(length);
            }
            // Names compare without regard to case.
            store.PutValue(slot.root, (flags & 1) ? Upper(slot.path) : slot.path,
                           (flags & 1) ? Upper(slot.name) : slot.name, type, bytes);
        } else if (kind == 1) {
            std::vector<std::string> levels = Levels(slot.path);
            std::size_t depth = in.Byte() % (levels.size() + 1);
            std::string denied;
            for (std::size_t i = 0; i < depth; ++i) denied += (i ? "\\" : "") + levels[i];
            store.Deny(slot.root, denied);
            disturbed = true;
        } else if (kind == 2) {
            MemoryRegistryStore::Op op = kOps[in.Byte() % (sizeof kOps / sizeof kOps[0])];
            int n = 1 + in.Byte();
            store.FailCall(op, n, kErrors[in.Byte() % (sizeof kErrors / sizeof kErrors[0])]);
            disturbed = true;
        } else {
            std::vector<std::uint8_t> nameBytes = in.Bytes(in.Byte() % 64);
            std::string name(nameBytes.begin(), nameBytes.end());
            std::uint32_t type = in.Byte();
            std::vector<std::uint8_t> bytes = in.Bytes(in.Byte());
            bool read = false;
            for (const Slot& s : slots) read |= Upper(s.name) == Upper(name) && Upper(s.path) == Upper(slot.path);
            if (!read) store.PutValue(slot.root, slot.path, name, type, bytes);
        }
    }

    // What every slot holds before the read-back.
    std::vector<test::StoredValue> before;
    for (const Slot& s : slots) before.push_back(test::Stored(store, s.root, s.path, s.name));

    ScopedRegistryStore scope(store);
    FormView view;
    Presenter presenter;
    std::string message;
    try {
        FormCreate(view);
    } catch (const ERegistryException& e) {
        message = e.what();
        ShowHandlerError(presenter, e);
    }

    KESTRO_FUZZ_CHECK(store.OpenHandleCount() == 0, "%d handles left open", store.OpenHandleCount());
    for (std::size_t i = 0; i < slots.size(); ++i) {
        test::StoredValue after = test::Stored(store, slots[i].root, slots[i].path, slots[i].name);
        KESTRO_FUZZ_CHECK(after.present == before[i].present && after.type == before[i].type &&
                              after.data == before[i].data,
                          "the read-back changed the value '%s'", slots[i].name.c_str());
    }

    if (!message.empty()) {
        KESTRO_FUZZ_CHECK(presenter.shown_.size() == 1 && !presenter.shown_[0].empty(), "no error box shown");
        // A read raises only its own two errors, naming the value it read.
        std::set<std::string> allowed;
        for (const Slot& s : slots) {
            allowed.insert("Failed to get data for '" + s.name + "'");
            allowed.insert("Invalid data type for '" + s.name + "'");
        }
        KESTRO_FUZZ_CHECK(allowed.count(message) == 1, "unexpected error \"%s\"", message.c_str());
    }
    // kestroctl reads the same state as the window: in the read-back's
    // order, the same states up to where the window stopped, and there the
    // window's own message (several rows share a value name, so the row is
    // the first that kestroctl cannot read either).
    if (!disturbed) {
        bool stopped = false;
        for (std::size_t r = 0; r < kSettingCount && !stopped; ++r) {
            const Setting& row = kCatalogue[r];
            if (row.readBack == ReadRule::None) continue;
            const SettingState state = ReadSettingState(store, row);
            if (state.status != SettingState::Status::Ok) {
                KESTRO_FUZZ_CHECK(!message.empty() && state.message == message,
                                  "kestroctl cannot read %s (\"%s\"); the window says \"%s\"", row.name,
                                  state.message.c_str(), message.c_str());
                stopped = true;
                continue;
            }
            if (row.readBack == ReadRule::IntoCount) {
                KESTRO_FUZZ_CHECK(state.value.number == view.count_, "%s: window %d, kestroctl %d", row.name,
                                  view.count_, state.value.number);
            } else {
                KESTRO_FUZZ_CHECK(state.value.on == view.toggles_[row.control].down(), "%s: window %s, kestroctl %s",
                                  row.name, view.toggles_[row.control].down() ? "on" : "off",
                                  state.value.on ? "on" : "off");
            }
        }
        KESTRO_FUZZ_CHECK(stopped == !message.empty(), "the window stopped with \"%s\"; kestroctl read everything",
                          message.c_str());
        KESTRO_FUZZ_CHECK(store.OpenHandleCount() == 0, "kestroctl's reader left %d handles open",
                          store.OpenHandleCount());
    }

    // What `kestroctl save` writes of this state, `kestroctl apply` takes.
    if (!disturbed) {
        Profile saved;
        std::vector<std::string> notes;
        CurrentProfile(store, &saved, &notes);
        Profile reread;
        ProfileError error;
        KESTRO_FUZZ_CHECK(ReadProfile(WriteProfile(saved, notes), &reread, &error),
                          "the saved profile is refused: line %d: %s", error.line, error.message.c_str());
        KESTRO_FUZZ_CHECK(reread.entries.size() == saved.entries.size(), "%zu entries saved, %zu read",
                          saved.entries.size(), reread.entries.size());
        for (std::size_t i = 0; i < saved.entries.size(); ++i)
            KESTRO_FUZZ_CHECK(reread.entries[i].row == saved.entries[i].row &&
                                  reread.entries[i].value == saved.entries[i].value,
                              "%s changed between save and apply", saved.entries[i].row->name);
    }

    if (disturbed) return 0;

    // On an undisturbed store the stored values alone decide the outcome.
    if (!message.empty()) {
        bool wrongType = message.rfind("Invalid data type for '", 0) == 0;
        bool explained = false;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            const test::StoredValue& v = before[i];
            if (!v.present || message.find("'" + slots[i].name + "'") == std::string::npos) continue;
            if (slots[i].text)  // any text reads; a value of another type is of the wrong one
                explained |= wrongType && v.type != kRegSz && v.type != kRegNone;
            else
                explained |= wrongType ? (v.type != kRegDword && v.data.size() <= 4) : v.data.size() > 4;
        }
        KESTRO_FUZZ_CHECK(explained, "no stored value explains \"%s\"", message.c_str());
        return 0;
    }
    KESTRO_FUZZ_CHECK(view.countSets_ == 1, "the recent-documents count was set %d times", view.countSets_);
    for (std::size_t r = 0, i = 0; r < kSettingCount; ++r) {
        const Setting& row = kCatalogue[r];
        if (row.readBack == ReadRule::None) continue;
        // Every row's first value is read; later ones only behind a match.
        const test::StoredValue& v = before[i];
        const bool text = slots[i].text;
        i += row.ValueCount();
        if (v.present && text) {
            KESTRO_FUZZ_CHECK(v.type == kRegSz || v.type == kRegNone, "'%s' of type %u was read without an error",
                              row.valueNames[0], static_cast<unsigned>(v.type));
        } else if (v.present) {
            KESTRO_FUZZ_CHECK(v.type == kRegDword && v.data.size() <= 4,
                              "'%s' of type %u and %zu bytes was read without an error", row.valueNames[0],
                              static_cast<unsigned>(v.type), v.data.size());
        }
        std::int32_t number = v.present ? DwordOf(v.data) : 0;
        if (row.readBack == ReadRule::IntoCount) {
            KESTRO_FUZZ_CHECK(view.count_ == number, "count %d shown for %d", view.count_, number);
        } else if (row.readBack == ReadRule::PlainToggle) {
            auto it = view.toggles_.find(row.control);
            KESTRO_FUZZ_CHECK(it != view.toggles_.end() && it->second.sets() == 1, "%s not set once", row.control);
            KESTRO_FUZZ_CHECK(it->second.down() == (number == 1), "%s shown %s for %d", row.control,
                              it->second.down() ? "down" : "up", number);
        }
    }
    return 0;
}
