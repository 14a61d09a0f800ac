// The write path on a hive from elsewhere: opened for writing, one value
// set, committed in a scratch folder, and read back. Whatever the bytes, a
// commit either succeeds, and the hive then reads back with that one change
// and nothing else different, or fails, and the file is byte for byte as it
// was with nothing left beside it.
#include "offline/hive_file.h"
#include "offline/hive_registry.h"
#include "core/text.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_files.h"

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

using namespace kestro;

namespace {

constexpr char kKey[] = "Software\\Kestro\\Fuzz";
constexpr char kValueLine[] = " 4 78563412";  // REG_DWORD 0x12345678

// A DumpHive listing as each key's value lines.
using Listing = std::map<std::string, std::multiset<std::string>>;

Listing Parse(const std::string& dump) {
    Listing keys;
    std::istringstream lines(dump);
    std::string line, key;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            key = line.substr(1, line.size() - 2);
            keys[key];
        } else {
            keys[key].insert(line);
        }
    }
    return keys;
}

// Registry names match without regard to case: the key written may be one
// the hive already spells otherwise ("\\SoftwaRe"), and is listed so.
std::string KeyIn(const Listing& listing, const std::string& wanted) {
    for (const auto& entry : listing)
        if (SameAsciiNoCase(entry.first, wanted)) return entry.first;
    return wanted;
}

bool IsTheValue(const std::string& line) {
    const std::size_t space = line.find(' ');
    return space != std::string::npos && SameAsciiNoCase(line.substr(0, space), "Value");
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Empties the folder between inputs: backups and locks of the last one.
void Clear(const std::string& folder) {
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                std::remove((folder + "/" + entry->d_name).c_str());
        closedir(dir);
    }
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.' || std::string(entry->d_name).rfind(".NTUSER", 0) == 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        std::string f = fuzz::ScratchFolder() + "/write";
        mkdir(f.c_str(), 0755);
        return f;
    }();
    const std::string path = folder + "/NTUSER.DAT";
    Clear(folder);
    fuzz::WriteScratchFile(path, data, size);
    const std::string input(reinterpret_cast<const char*>(data), size);

    // What the hive holds as read, before any change.
    std::string before;
    {
        std::string error;
        std::unique_ptr<HiveFile> hive = HiveFile::Open(path, HiveFile::Mode::ReadOnly, &error);
        if (!hive || !DumpHive(hive->Handle(), &before)) return 0;
    }

    std::string error;
    bool committed = false;
    {
        std::unique_ptr<HiveFile> hive = HiveFile::Open(path, HiveFile::Mode::Write, &error);
        KESTRO_FUZZ_CHECK(hive != nullptr, "a hive that opens to read does not open to write: %s", error.c_str());
        HiveRegistryStore store;
        store.Mount(HiveRegistryStore::Slot::User, std::move(hive));
        KeyHandle key = 0;
        if (store.CreateKey(kHkeyCurrentUser, kKey, kKeyAllAccess, &key) == kErrorSuccess) {
            const std::uint8_t value[4] = {0x78, 0x56, 0x34, 0x12};
            const RegResult rc = store.SetValue(key, "Value", kRegDword, value, sizeof value);
            store.CloseKey(key);
            if (rc == kErrorSuccess) committed = store.Commit(HiveFile::CommitOptions{false}, &error);
        }
    }  // the store gone, as at the end of a command: its lock too
    if (!committed) {
        // Refused or failed: not a byte changed, nothing beside it.
        KESTRO_FUZZ_CHECK(ReadAll(path) == input, "a commit that did not happen changed the file: %s", error.c_str());
        KESTRO_FUZZ_CHECK(Names(folder) == std::vector<std::string>{"NTUSER.DAT"}, "files were left beside it: %s",
                          error.c_str());
        return 0;
    }

    // Written: it reads back as what was read plus the one value.
    std::string after;
    {
        std::unique_ptr<HiveFile> reread = HiveFile::Open(path, HiveFile::Mode::ReadOnly, &error);
        KESTRO_FUZZ_CHECK(reread != nullptr, "the written hive does not open: %s", error.c_str());
        KESTRO_FUZZ_CHECK(DumpHive(reread->Handle(), &after), "the written hive does not read to the end");
    }
    KESTRO_FUZZ_CHECK(HiveFile::CheckFile(path).empty(), "the written hive fails its own check: %s",
                      HiveFile::CheckFile(path).c_str());
    Listing expected = Parse(before), got = Parse(after);
    const std::string changed = KeyIn(got, std::string("\\") + kKey);
    std::size_t found = 0;
    for (auto it = got[changed].begin(); it != got[changed].end();) {
        if (IsTheValue(*it)) {
            KESTRO_FUZZ_CHECK(it->size() > sizeof kValueLine - 1 &&
                                  it->compare(it->size() - (sizeof kValueLine - 1), std::string::npos, kValueLine) == 0,
                              "the value reads back as \"%s\"", it->c_str());
            ++found;
            it = got[changed].erase(it);
        } else {
            ++it;
        }
    }
    KESTRO_FUZZ_CHECK(found == 1, "the value is there %zu times", found);
    for (auto it = expected[changed].begin(); it != expected[changed].end();)
        it = IsTheValue(*it) ? expected[changed].erase(it) : std::next(it);
    // The keys on the way may be new, with no values.
    for (const char* made : {"\\Software", "\\Software\\Kestro", "\\Software\\Kestro\\Fuzz"}) expected[KeyIn(got, made)];
    KESTRO_FUZZ_CHECK(expected == got, "the written hive differs from what was read in more than the one value");
    return 0;
}
