// The files a fuzz target hands to code that reads by name: one folder per
// process, on a memory file system where there is one, rewritten for every
// input and removed with what is in it when the process ends.
#pragma once

#include "tests/fuzz/fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestro::fuzz {

inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        const char* base =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        std::string dir = std::string(base) + "/kestro-fuzz-XXXXXX";
        std::vector<char> name(dir.begin(), dir.end());
        name.push_back('\0');
        KESTRO_FUZZ_CHECK(mkdtemp(name.data()) != nullptr, "cannot make a folder under %s", base);
        return std::string(name.data());
    }();
    static const bool removed_at_exit = [] {
        std::atexit([] {
            if (DIR* dir = opendir(folder.c_str())) {
                while (const dirent* entry = readdir(dir))
                    if (entry->d_name[0] != '.') std::remove((folder + "/" + entry->d_name).c_str());
                closedir(dir);
            }
            rmdir(folder.c_str());
        });
        return true;
    }();
    (void)removed_at_exit;
    return folder;
}

inline void WriteScratchFile(const std::string& path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    KESTRO_FUZZ_CHECK(f != nullptr, "cannot write %s", path.c_str());
    if (size) KESTRO_FUZZ_CHECK(std::fwrite(data, 1, size, f) == size, "short write");
    KESTRO_FUZZ_CHECK(std::fclose(f) == 0, "cannot write %s", path.c_str());
}

}  // namespace kestro::fuzz
