#include "tests/support/hive_files.h"

#include "core/bytes.h"
#include "tests/support/windows_volume.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestro::test {

namespace {

void Put32(std::string& b, std::size_t at, std::uint32_t v) { StoreLe32(&b[at], v); }
void Put16(std::string& b, std::size_t at, std::uint16_t v) { StoreLe16(&b[at], v); }

}  // namespace

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void SetBaseBlockChecksum(std::string& hive) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 0x1FC; i += 4) sum ^= LoadLe32(&hive[i]);
    if (sum == 0) sum = 1;
    if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
    Put32(hive, 0x1FC, sum);
}

void MakeDirty(const std::string& path) {
    std::string bytes = ReadFile(path);
    bytes[8] = static_cast<char>(bytes[8] + 1);  // the second sequence number
    SetBaseBlockChecksum(bytes);
    WriteFile(path, bytes);
}

void WriteEmptyHive(const std::string& path) {
    std::string hive(0x2000, '\0');
    // Base block.
    std::memcpy(&hive[0], "regf", 4);
    Put32(hive, 0x04, 1);       // sequence numbers, equal: the hive is clean
    Put32(hive, 0x08, 1);
    Put32(hive, 0x14, 1);       // format 1.5, as XP writes
    Put32(hive, 0x18, 5);
    Put32(hive, 0x1C, 0);       // a primary file
    Put32(hive, 0x20, 1);       // direct memory load
    Put32(hive, 0x24, 0x20);    // the root key's cell
    Put32(hive, 0x28, 0x1000);  // the size of the hive bins
    Put32(hive, 0x2C, 1);
    SetBaseBlockChecksum(hive);

    // One bin.
    const std::size_t bin = 0x1000;
    std::memcpy(&hive[bin], "hbin", 4);
    Put32(hive, bin + 0x04, 0);
    Put32(hive, bin + 0x08, 0x1000);

    // The root key at bin offset 0x20.
    const std::string rootName = "ROOT";
    const std::size_t nk = bin + 0x20;
    const std::uint32_t nkSize = (4 + 0x4C + static_cast<std::uint32_t>(rootName.size()) + 7) & ~7u;
    const std::uint32_t skOffset = 0x20 + nkSize;
    Put32(hive, nk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nkSize)));
    std::memcpy(&hive[nk + 4], "nk", 2);
    Put16(hive, nk + 4 + 0x02, 0x2C);  // root, not deletable, name in ASCII
    Put32(hive, nk + 4 + 0x10, 0xFFFFFFFF);
    Put32(hive, nk + 4 + 0x1C, 0xFFFFFFFF);  // no sub-keys
    Put32(hive, nk + 4 + 0x20, 0xFFFFFFFF);
    Put32(hive, nk + 4 + 0x28, 0xFFFFFFFF);  // no values
    Put32(hive, nk + 4 + 0x2C, skOffset);
    Put32(hive, nk + 4 + 0x30, 0xFFFFFFFF);  // no class
    Put16(hive, nk + 4 + 0x48, static_cast<std::uint16_t>(rootName.size()));
    std::memcpy(&hive[nk + 4 + 0x4C], rootName.data(), rootName.size());

    // Its security: owner Administrators, group SYSTEM, a DACL giving
    // Everyone full control.
    std::string sd(20, '\0');
    sd[0] = 1;                              // revision
    sd[2] = 0x04;                           // DACL present
    sd[3] = static_cast<char>(0x80);        // self-relative
    const std::string admins("\x01\x02\0\0\0\0\0\x05\x20\0\0\0\x20\x02\0\0", 16);
    const std::string system("\x01\x01\0\0\0\0\0\x05\x12\0\0\0", 12);
    const std::string everyone("\x01\x01\0\0\0\0\0\x01\0\0\0\0", 12);
    std::string ace("\0\0\0\0\x3F\0\x0F\0", 8);  // allowed, full control
    ace += everyone;
    ace[2] = static_cast<char>(ace.size());
    std::string acl("\x02\0\0\0\x01\0\0\0", 8);  // revision 2, one ACE
    acl += ace;
    acl[2] = static_cast<char>(acl.size());
    Put32(sd, 4, 20);                                  // owner
    Put32(sd, 8, 20 + 16);                             // group
    Put32(sd, 16, 20 + 16 + 12);                       // DACL
    sd += admins + system + acl;

    const std::size_t sk = bin + skOffset;
    const std::uint32_t skSize = (4 + 0x14 + static_cast<std::uint32_t>(sd.size()) + 7) & ~7u;
    Put32(hive, sk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
    std::memcpy(&hive[sk + 4], "sk", 2);
    Put32(hive, sk + 4 + 0x04, skOffset);  // a list of one: itself
    Put32(hive, sk + 4 + 0x08, skOffset);
    Put32(hive, sk + 4 + 0x0C, 1);         // used by the root
    Put32(hive, sk + 4 + 0x10, static_cast<std::uint32_t>(sd.size()));
    std::memcpy(&hive[sk + 4 + 0x14], sd.data(), sd.size());

    // The rest of the bin is one free cell.
    const std::uint32_t freeAt = skOffset + skSize;
    Put32(hive, bin + freeAt, 0x1000 - freeAt);

    WriteFile(path, hive);
}

std::string Shell(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return out;
    }
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    int rc = ::pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

bool MergeReg(const std::string& hive, const std::string& regText) {
    std::string reg = hive + ".merge.reg";
    WriteFile(reg, regText);
    int status = 0;
    Shell("hivexregedit --merge " + Quote(hive) + " " + Quote(reg) + " 2>&1", &status);
    ::unlink(reg.c_str());
    return status == 0;
}

TempDir::TempDir() {
    std::string pattern = ScratchRoot() + "/kestro-hive-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    path_ = name.data();
}

TempDir::~TempDir() { Shell("chmod -R u+w " + Quote(path_) + " && rm -rf " + Quote(path_)); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool IsEmptyFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
                std::strncmp(e->d_name, ".fuse_hidden", 12) != 0)
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// reglookup prints one line per key or value: PATH,TYPE,VALUE,MTIME with
// paths from the root as "/A/B" and a value as "/A/B/Name".
std::vector<std::vector<std::string>> ReglookupRows(const std::string& hive, const std::string& keyPath) {
    std::string prefix = "/";
    for (char c : keyPath) prefix += c == '\\' ? '/' : c;
    std::string out = Shell("reglookup -H -i -p " + Quote(prefix) + " " + Quote(hive) + " 2>/dev/null");
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::string field;
        for (char c : line) {
            if (c == ',') {
                fields.push_back(field);
                field.clear();
            } else {
                field += c;
            }
        }
        fields.push_back(field);
        if (fields.size() >= 3) rows.push_back(fields);
    }
    return rows;
}

}  // namespace

std::map<std::string, std::string> ReglookupValues(const std::string& hive, const std::string& keyPath) {
    std::string prefix = "/";
    for (char c : keyPath) prefix += c == '\\' ? '/' : c;
    std::map<std::string, std::string> values;
    for (const auto& row : ReglookupRows(hive, keyPath)) {
        if (row[1] == "KEY") continue;
        const std::string& path = row[0];
        std::size_t slash = path.rfind('/');
        if (slash == std::string::npos || path.substr(0, slash) != prefix) continue;
        values[path.substr(slash + 1)] = row[1] + ":" + row[2];
    }
    return values;
}

bool ReglookupHasKey(const std::string& hive, const std::string& keyPath) {
    std::string prefix = "/";
    for (char c : keyPath) prefix += c == '\\' ? '/' : c;
    for (const auto& row : ReglookupRows(hive, keyPath))
        if (row[1] == "KEY" && row[0] == prefix) return true;
    return false;
}
}  // namespace kestro::test
