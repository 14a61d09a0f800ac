// The volume layer against a tree an attacker laid out: the input turns the
// names the rescue opens (WINDIR, the hives, their logs, SAM, hiberfil.sys,
// backups, records, lock files) into regular files of its bytes, symbolic
// links on and off the volume, FIFOs, a device node, hard links to one
// another and to a file outside, or removes them; then one `set` and one
// `restore` run on it. Whatever the tree: nothing outside the volume
// changes (every byte, every name), nothing hangs (libFuzzer's -timeout, and
// the replay test's CTest timeout), and no temporary file or lock is left.
#include "ctl/commands.h"
#include "ctl/offline_store.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_files.h"
#include "tests/support/hive_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace kestro;
namespace fs = std::filesystem;

namespace {

// Silent, unless KESTRO_FUZZ_VERBOSE is set (to see what a finding did).
class QuietConsole final : public Console {
public:
    void Out(const std::string& text) override { Say(text); }
    void Json(const std::string& text) override { Say(text); }
    void Err(const std::string& text) override { Say(text); }

private:
    static void Say(const std::string& text) {
        static const bool verbose = std::getenv("KESTRO_FUZZ_VERBOSE") != nullptr;
        if (verbose) std::fputs(text.c_str(), stderr);
    }
};

// The names the rescue opens, below the volume.
const char* const kNames[] = {
    "WINDOWS",
    "WINDOWS/system32/config/system",
    "WINDOWS/system32/config/software",
    "WINDOWS/system32/config/SAM",
    "WINDOWS/system32/config/system.LOG1",
    "WINDOWS/system32/config/system.kestro-lock",
    "WINDOWS/system32/config/system.kestro-bak",
    "WINDOWS/system32/config/system.kestro-bak.kestro-record",
    "Documents and Settings",
    "Documents and Settings/Owner",
    "Documents and Settings/Owner/NTUSER.DAT",
    "Documents and Settings/Owner/NTUSER.DAT.LOG",
    "Documents and Settings/Owner/NTUSER.DAT.kestro-lock",
    "Documents and Settings/Owner/NTUSER.DAT.kestro-bak",
    "Documents and Settings/Owner/NTUSER.DAT.kestro-bak.1",
    "Documents and Settings/Owner/NTUSER.DAT.kestro-bak.kestro-record",
    "hiberfil.sys",
};
constexpr std::size_t kNameCount = sizeof kNames / sizeof kNames[0];

// Every file below `root`: its path, and its kind and bytes (or target).
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path& p = it->path();
        std::string what;
        if (fs::is_symlink(it->symlink_status())) what = "link " + fs::read_symlink(p).string();
        else if (fs::is_fifo(it->symlink_status())) what = "fifo";
        else if (fs::is_directory(it->symlink_status())) what = "folder";
        else if (fs::is_regular_file(it->symlink_status())) {
            std::ifstream in(p, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            what = "file " + bytes.str();
        }
        files[p.string()] = what;
    }
    return files;
}

// The template volume: empty hives, which the rescue fills.
const fs::path& Template() {
    static const fs::path root = [] {
        const fs::path base = fs::path(fuzz::ScratchFolder()) / "template";
        fs::create_directories(base / "WINDOWS/system32/config");
        fs::create_directories(base / "Documents and Settings/Owner");
        for (const char* hive : {"WINDOWS/system32/config/system", "WINDOWS/system32/config/software",
                                 "WINDOWS/system32/config/SAM", "Documents and Settings/Owner/NTUSER.DAT"})
            test::WriteEmptyHive((base / hive).string());
        // ScratchFolder removes files only: the folders made here go first.
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(fs::path(fuzz::ScratchFolder()) / "template", ignored);
            fs::remove_all(fs::path(fuzz::ScratchFolder()) / "run", ignored);
        });
        return base;
    }();
    return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path run = fs::path(fuzz::ScratchFolder()) / "run";
    const fs::path vol = run / "vol", outside = run / "outside";
    fs::remove_all(run);
    fs::create_directories(outside / "WINDOWS/system32/config");
    fs::create_directories(outside / "Owner");
    fs::copy(Template(), vol, fs::copy_options::recursive);
    // Outside: real hives a link could lead to, a FIFO, a plain file.
    fs::copy_file(Template() / "WINDOWS/system32/config/system", outside / "WINDOWS/system32/config/system");
    fs::copy_file(Template() / "WINDOWS/system32/config/software", outside / "WINDOWS/system32/config/software");
    fs::copy_file(Template() / "Documents and Settings/Owner/NTUSER.DAT", outside / "Owner/NTUSER.DAT");
    KESTRO_FUZZ_CHECK(::mkfifo((outside / "fifo").c_str(), 0600) == 0, "mkfifo");
    fuzz::WriteScratchFile((outside / "file").string(), "outside", 7);

    // Each four bytes: a name, what it becomes, and a parameter.
    for (std::size_t at = 0; at + 4 <= size && at < 4 * 24; at += 4) {
        const fs::path name = vol / kNames[data[at] % kNameCount];
        const fs::path other = vol / kNames[data[at + 2] % kNameCount];
        const std::uint8_t kind = data[at + 1] % 8, n = data[at + 3];
        std::error_code ignored;
        if (!fs::is_directory(fs::symlink_status(name.parent_path(), ignored)) &&
            !fs::is_directory(name.parent_path(), ignored))
            continue;
        fs::remove_all(name, ignored);
        switch (kind) {
            case 0: {  // a regular file of some of the input's bytes
                const std::size_t take = std::min<std::size_t>(n, size - at);
                fuzz::WriteScratchFile(name.string(), data + at, take);
                break;
            }
            case 1:  // a link off the volume, to a file, a folder or the FIFO
                fs::create_symlink(n % 3 == 0 ? outside / "fifo" : n % 3 == 1 ? outside / "Owner/NTUSER.DAT"
                                                                              : outside / "WINDOWS",
                                   name, ignored);
                break;
            case 2:  // a link to another name on the volume
                fs::create_symlink(other, name, ignored);
                break;
            case 3:
                ::mkfifo(name.c_str(), 0600);
                break;
            case 4:  // a device node: /dev/null's numbers, harmless to open
                ::mknod(name.c_str(), S_IFCHR | 0600, makedev(1, 3));
                break;
            case 5:  // a second name of another file on the volume
                fs::create_hard_link(other, name, ignored);
                break;
            case 6:  // a second name of a file outside
                fs::create_hard_link(n % 2 ? outside / "file" : outside / "Owner/NTUSER.DAT", name, ignored);
                break;
            default:  // gone
                break;
        }
    }
    const auto before = Snapshot(outside);

    QuietConsole console;
    const std::string windir = (vol / "WINDOWS").string();
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--offline", windir, "--user", "Owner", "set", "DisableTaskMgr", "off"},
          std::vector<std::string>{"--offline", windir, "--user", "Owner", "restore"}}) {
        OfflineStoreProvider stores(console);
        RunKestroctl(arguments, stores, console);
    }

    const auto after = Snapshot(outside);
    KESTRO_FUZZ_CHECK(before == after, "a file outside the volume changed, appeared or went");
    // No temporary file and no lock left in the folders the rescue writes.
    for (const char* folder : {"WINDOWS/system32/config", "Documents and Settings/Owner"}) {
        std::error_code error;
        if (fs::is_symlink(vol / folder, error) || !fs::is_directory(vol / folder, error)) continue;
        for (const auto& entry : fs::directory_iterator(vol / folder, error)) {
            const std::string name = entry.path().filename().string();
            KESTRO_FUZZ_CHECK(name.find(".kestro-lock") == std::string::npos ||
                                  name == fs::path(kNames[5]).filename() || name == fs::path(kNames[12]).filename(),
                              "a lock file left: %s", name.c_str());
            KESTRO_FUZZ_CHECK(!(name[0] == '.' && name.find(".kestro-") != std::string::npos),
                              "a temporary file left: %s", name.c_str());
        }
    }
    return 0;
}
