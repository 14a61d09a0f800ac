#include "offline/hive_limits.h"

#include "core/localized.h"

#include <hivex.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kestro {

std::string CheckHiveFileSize(const struct stat& st) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const auto mib = [](std::uint64_t bytes) { return bytes >> 20; };
    if (size > kMaxHiveFileBytes)
        return Localized("it is %1 MiB long, more than the %2 MiB a hive may be here; it is not read", mib(size),
                         mib(kMaxHiveFileBytes));
    // A file system that reports no blocks (some network ones) tells
    // nothing; a small file may sit in its own record (NTFS keeps files of
    // under a KiB there).
    const auto allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
    if (st.st_blocks > 0 && size > (1u << 20) && allocated < size / 2)
        return Localized("it is sparse: %1 MiB long, but only %2 KiB of it are on the disk. Windows writes every "
                         "byte of a hive, and reading the holes would take %1 MiB of memory for nothing; it is not "
                         "read",
                         mib(size), allocated >> 10);
    return std::string();
}

namespace {

std::string NameOf(hive_h* h, hive_node_h node) {
    char* name = hivex_node_name(h, node);
    std::string text = name ? name : "?";
    std::free(name);
    return text;
}

}  // namespace

std::string FindKeyLoop(hive_h* h) {
    // Depth first, by hand (no recursion to overflow), each key's offset
    // remembered: a key met a second time is a loop, or a key two lists
    // share, which no hive Windows wrote has.
    struct Level {
        hive_node_h node;
        std::string path;
        int depth;
    };
    std::unordered_set<hive_node_h> seen;
    std::vector<Level> pending{{hivex_root(h), std::string(), 0}};
    seen.insert(pending.back().node);
    while (!pending.empty()) {
        const Level at = std::move(pending.back());
        pending.pop_back();
        errno = 0;
        hive_node_h* children = hivex_node_children(h, at.node);
        if (!children) continue;  // a key that cannot be read: the other checks say so
        std::string found;
        for (hive_node_h* c = children; *c && found.empty(); ++c) {
            const std::string path = at.path + "\\" + NameOf(h, *c);
            if (!seen.insert(*c).second)
                found = Localized("the key %1 lists %2, a key already in the tree: its sub-keys lead round in a "
                                  "loop, which no hive Windows wrote has; nothing below it is walked",
                                  at.path.empty() ? std::string("\\") : at.path, path);
            else if (at.depth + 1 > kMaxKeyDepth)
                found = Localized("the key %1 lies deeper than the %2 levels Windows allows", path, kMaxKeyDepth);
            else
                pending.push_back({*c, path, at.depth + 1});
        }
        std::free(children);
        if (!found.empty()) return found;
    }
    return std::string();
}

}  // namespace kestro
