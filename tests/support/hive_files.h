// Real hive files made by the tests and benchmarks themselves: an empty
// hive written here, filled by hivexregedit from .reg text, and read back by
// reglookup, a reader that is not hivex. No GoogleTest here: the benchmarks
// and the fuzz seed writer use it too.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestro::test {

// An empty hive: the base block and one bin holding the root key and its
// security cell.
void WriteEmptyHive(const std::string& path);

// The base block's checksum (the XOR of its first 127 words, never 0 or
// ~0), written into its place.
void SetBaseBlockChecksum(std::string& hive);
// Marks a hive file as a Windows that stopped in the middle of writing it
// leaves it: its two sequence numbers differ, under a good checksum.
void MakeDirty(const std::string& path);

// Merges .reg text (REGEDIT4 or "Windows Registry Editor Version 5.00",
// every parent key as a section of its own) into the hive; false when
// hivexregedit refuses it.
bool MergeReg(const std::string& hive, const std::string& regText);

// A folder under ScratchRoot() (tests/support/windows_volume.h), removed
// with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);  // "" also when there is no file
// A regular file of no bytes: an emptied log, not a missing one.
bool IsEmptyFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// The names in `dir`, sorted, without . and .., and without the names FUSE
// gives a file removed while it is still open (.fuse_hidden*, gone a moment
// after it is closed).
std::vector<std::string> ListDir(const std::string& dir);

// The values of one key as reglookup reads them: name -> "TYPE:DATA", with
// DWORDs as reglookup prints them (0x00000004) and strings as text.
std::map<std::string, std::string> ReglookupValues(const std::string& hive, const std::string& keyPath);
// Whether reglookup finds the key.
bool ReglookupHasKey(const std::string& hive, const std::string& keyPath);

// Runs a shell command; its standard output, and *status its exit status.
std::string Shell(const std::string& command, int* status = nullptr);
// `s` as one word of a shell command, in single quotes.
std::string Quote(const std::string& s);

}  // namespace kestro::test
