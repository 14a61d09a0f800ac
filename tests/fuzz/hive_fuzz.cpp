// A hive file from elsewhere: the pre-flight check first, and only for a
// hive it passes, every setting listed from it (as the registry calls and
// as kestroctl lists them), mounted as the SOFTWARE,
// SYSTEM and user hive at once. The check may refuse anything; what it
// passes must then be listed with nothing worse than a registry error:
// no crash, no hang, no handle left open, and sizes that agree.
#include "ctl/current_state.h"
#include "offline/hive_file.h"
#include "offline/hive_registry.h"
#include "settings/catalogue.h"
#include "tests/fakes.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_files.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace kestro;

namespace {

// Every value of the catalogue through the plain registry operations, as a
// listing reads them: probe the size, then read exactly that; and the
// sub-keys of every key on the way.
void ListSettings(HiveRegistryStore& store) {
    for (const Setting& row : kCatalogue) {
        KeyHandle key = 0;
        if (store.OpenKey(row.root, row.keyPath, kKeyRead, &key) != kErrorSuccess) continue;
        UniqueKey owner(store, key);
        for (std::size_t i = 0; i < row.ValueCount(); ++i) {
            std::uint32_t type = 0, size = 0;
            if (store.QueryValue(key, row.valueNames[i], &type, nullptr, &size) != kErrorSuccess) continue;
            std::vector<std::uint8_t> data(size + 1);
            std::uint32_t got = size;
            RegResult rc = store.QueryValue(key, row.valueNames[i], &type, data.data(), &got);
            KESTRO_FUZZ_CHECK(rc == kErrorSuccess && got == size, "'%s': %u bytes probed, then %ld with %u",
                              row.valueNames[i], size, rc, got);
        }
        std::uint32_t count = 0, longest = 0;
        if (store.QueryInfoKey(key, &count, &longest) != kErrorSuccess) continue;
        std::vector<char> name(longest + 1);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t length = static_cast<std::uint32_t>(name.size());
            RegResult rc = store.EnumKey(key, i, name.data(), &length);
            KESTRO_FUZZ_CHECK(rc != kErrorMoreData, "sub-key %u of %s is longer than the longest, %u", i,
                              row.keyPath, longest);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::ScratchFolder() + "/ntuser.dat";
    fuzz::WriteScratchFile(path, data, size);
    if (!HiveFile::CheckFile(path).empty()) return 0;

    HiveRegistryStore store;
    for (HiveRegistryStore::Slot slot :
         {HiveRegistryStore::Slot::Software, HiveRegistryStore::Slot::System, HiveRegistryStore::Slot::User}) {
        std::string error;
        std::unique_ptr<HiveFile> hive = HiveFile::Open(path, HiveFile::Mode::ReadOnly, &error);
        KESTRO_FUZZ_CHECK(hive != nullptr, "a hive that passed the check does not open: %s", error.c_str());
        store.Mount(slot, std::move(hive));
    }
    ListSettings(store);
    // kestroctl's own listing of it: a state or a reason for every setting.
    for (const Setting& row : kCatalogue) {
        if (!row.HasState()) continue;
        const SettingState state = ReadSettingState(store, row);
        KESTRO_FUZZ_CHECK(state.status == SettingState::Status::Ok || state.status == SettingState::Status::NotSet ||
                              !state.detail.empty(),
                          "%s cannot be listed, and no reason is given", row.name);
    }

    // The window's read-back on it, as a start on that Windows would show it.
    {
        ScopedRegistryStore scope(store);
        test::FakeView view;
        try {
            LoadSettingsState(view);
        } catch (const ERegistryException& e) {
            std::string m = e.what();
            KESTRO_FUZZ_CHECK(m.rfind("Failed to get data for '", 0) == 0 || m.rfind("Invalid data type for '", 0) == 0,
                              "unexpected error \"%s\"", m.c_str());
        }
    }
    KESTRO_FUZZ_CHECK(store.OpenHandleCount() == 0, "%d handles left open", store.OpenHandleCount());
    KESTRO_FUZZ_CHECK(!store.HasChanges(), "reading changed the hive");
    return 0;
}
