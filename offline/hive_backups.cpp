#include "offline/hive_backups.h"

#include "offline/volume.h"
#include "offline/hive_names.h"
#include "offline/offline_error.h"
#include "core/localized.h"
#include "core/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {

namespace {

constexpr const char kBackupSuffix[] = ".kestro-bak";
constexpr const char kRecordSuffix[] = ".kestro-record";
constexpr const char kRecordHeader[] = "kestro commit record 2";
constexpr std::size_t kMaxRecordBytes = 1 << 16;
// How many backups of one hive restore reads the records of: kestroctl
// keeps far fewer (the first and those of the last runs).
constexpr std::size_t kMaxCandidates = 64;

std::string Hex(std::uint64_t n) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(n));
    return text;
}

// "SIZE HASH" of the file `name` of `folder` as it is now, opened by the
// volume's rule (a backup may have its hive's second name: `names`).
bool Fingerprint(const Folder& folder, const std::string& name, std::string* line, std::string* error,
                 nlink_t names = 1) {
    UniqueFd fd;
    if (!folder.OpenFile(name, O_RDONLY, &fd, error, names)) return false;
    std::uint64_t hash = 0, size = 0;
    if (!HashFile(fd.Get(), &hash, &size)) {
        *error = folder.PathOf(name) + ": " + std::strerror(errno);
        return false;
    }
    *line = std::to_string(size) + " " + Hex(hash);
    return true;
}

// The descriptor `fd` when the name `name` of `folder` still leads to that
// very regular file; else -1.
int StillNamed(const Folder& folder, const std::string& name, int fd) {
    struct stat named, held;
    if (fd < 0 || !folder.Stat(name, &named) || ::fstat(fd, &held) != 0) return -1;
    return S_ISREG(named.st_mode) && named.st_dev == held.st_dev && named.st_ino == held.st_ino ? fd : -1;
}

// Fingerprint, of the held file where the name still leads to it: the one
// taken before while the file is as it was then, else read now.
bool HeldFingerprint(const Folder& folder, const std::string& name, const HeldFile& held, std::string* line,
                     std::string* error, nlink_t names = 1) {
    const int fd = StillNamed(folder, name, held.fd);
    if (fd < 0) return Fingerprint(folder, name, line, error, names);
    struct stat now;
    if (!held.fingerprint.empty() && ::fstat(fd, &now) == 0 && static_cast<std::uint64_t>(now.st_size) == held.size &&
        now.st_mtim.tv_sec == held.mtime.tv_sec && now.st_mtim.tv_nsec == held.mtime.tv_nsec) {
        *line = held.fingerprint;
        return true;
    }
    HeldFile again;
    again.fd = fd;
    if (!TakeFingerprint(&again)) {
        *error = folder.PathOf(name) + ": " + std::strerror(errno);
        return false;
    }
    *line = again.fingerprint;
    return true;
}

bool AllDigits(const std::string& text, std::size_t from, std::size_t to) {
    if (from >= to || to > text.size()) return false;
    for (std::size_t i = from; i < to; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

}  // namespace

long BackupNumber(const std::string& suffix) {
    const std::size_t base = std::strlen(kBackupSuffix);
    if (suffix.compare(0, base, kBackupSuffix) != 0) return -1;
    if (suffix.size() == base) return 0;
    if (suffix[base] != '.' || !AllDigits(suffix, base + 1, suffix.size()) || suffix.size() > base + 7 ||
        suffix[base + 1] == '0')
        return -1;
    const long n = std::stol(suffix.substr(base + 1));
    return n <= kMaxBackupNumber ? n : -1;
}

bool TakeFingerprint(HeldFile* file) {
    file->fingerprint.clear();
    // The size and time first: a change while it is read makes them stale.
    struct stat st;
    std::uint64_t hash = 0, size = 0;
    if (::fstat(file->fd, &st) != 0 || !HashFile(file->fd, &hash, &size)) return false;
    file->size = static_cast<std::uint64_t>(st.st_size);
    file->mtime = st.st_mtim;
    file->fingerprint = std::to_string(size) + " " + Hex(hash);
    return true;
}

void FileHash::Word(const unsigned char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, 8);
    h_ = (h_ ^ word) * 0x100000001b3ull;
}

void FileHash::Add(const void* data, std::size_t len) {
    const auto* p = static_cast<const unsigned char*>(data);
    total_ += len;
    if (partLen_ > 0) {
        for (; partLen_ < 8 && len > 0; --len) part_[partLen_++] = *p++;
        if (partLen_ < 8) return;
        Word(part_);
        partLen_ = 0;
    }
    for (; len >= 8; p += 8, len -= 8) Word(p);
    std::memcpy(part_, p, len);
    partLen_ = len;
}

std::uint64_t FileHash::Value() const {
    // Whole words, then the bytes left; the size at the end tells a file
    // from the same file with zero bytes added.
    std::uint64_t h = h_;
    for (std::size_t i = 0; i < partLen_; ++i) h = (h ^ part_[i]) * 0x100000001b3ull;
    return (h ^ total_) * 0x100000001b3ull;
}

std::string FileHash::Fingerprint() const { return std::to_string(total_) + " " + Hex(Value()); }

bool HashFile(int fd, std::uint64_t* hash, std::uint64_t* size) {
    FileHash file;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(file.Size()));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        file.Add(buffer.data(), static_cast<std::size_t>(got));
    }
    *hash = file.Value();
    *size = file.Size();
    return true;
}

std::string NextBackupSuffix(const std::vector<std::string>& entries, const std::vector<std::string>& names) {
    long highest = -1;
    std::vector<bool> taken(static_cast<std::size_t>(kMaxBackupNumber) + 1, false);
    for (const std::string& entry : entries)
        for (const std::string& name : names)
            if (entry.size() > name.size() && SameNtfsName(entry.substr(0, name.size()), name)) {
                const long n = BackupNumber(entry.substr(name.size()));
                if (n < 0) continue;
                highest = std::max(highest, n);
                taken[static_cast<std::size_t>(n)] = true;
            }
    long next = highest + 1;
    if (next > kMaxBackupNumber)
        for (next = 1; next < kMaxBackupNumber && taken[static_cast<std::size_t>(next)]; ++next) {
        }
    return next == 0 ? std::string(kBackupSuffix) : kBackupSuffix + ("." + std::to_string(next));
}

std::string BackupRecordPath(const std::string& backup) { return backup + kRecordSuffix; }

bool IssuedRunName(const std::string& run, std::int64_t now) {
    // 00000000001765000000.123456789-4242
    if (run.size() < 32 || run.size() > 40 || !AllDigits(run, 0, 20) || run[20] != '.' || !AllDigits(run, 21, 30) ||
        run[30] != '-' || !AllDigits(run, 31, run.size()))
        return false;
    if (run.compare(0, 8, "00000000") != 0) return false;  // past any time an int64 can hold
    const std::int64_t seconds = std::stoll(run.substr(8, 12));
    return seconds <= now + 60;
}

bool RecordCommit(const Folder& folder, const std::string& hive, const std::string& backup, const std::string& run,
                  std::string* error, HeldFiles held) {
    std::string line, backupLine;
    UniqueFd opened;
    int hiveFd = StillNamed(folder, hive, held.hive.fd);
    if (hiveFd < 0) {
        if (!folder.OpenFile(hive, O_RDONLY, &opened, error)) return false;
        hiveFd = opened.Get();
    }
    // The backup may still have a second name while this run holds the
    // original open: FUSE (ntfs-3g) keeps a file replaced by a rename under
    // a hidden name until it is closed.
    HeldFile heldHive = held.hive;
    if (opened) heldHive = HeldFile();  // another file than the one held
    heldHive.fd = hiveFd;
    if (!HeldFingerprint(folder, hive, heldHive, &line, error) ||
        !HeldFingerprint(folder, backup, held.backup, &backupLine, error, 2))
        return false;
    std::ostringstream out;
    const std::time_t now = std::time(nullptr);
    char when[32] = "";
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
    out << kRecordHeader << "\nrun\t" << run << "\nwhen\t" << when << "\nhive\t" << line << "\nbackup\t" << backupLine
        << "\n";
    // Every log beside it, as left: emptied ones and untouched ones alike,
    // since Windows writes its logs before its hive.
    std::vector<std::string> logs;
    try {
        logs = FindHiveLogs(folder, hive);
    } catch (const OfflineError& e) {
        *error = e.what();  // after the commit: a missing record is a warning, not a failure
        return false;
    }
    for (const std::string& log : logs) {
        if (!Fingerprint(folder, log, &line, error)) return false;
        out << "log\t" << log << "\t" << line << "\n";
    }
    // A new file with the hive's descriptor before its first byte, renamed
    // over any record there was.
    const std::string record = BackupRecordPath(backup);
    UniqueFd fd;
    std::string temp;
    FileFault fault;
    if (!folder.CreateNew("." + record, &fd, &temp, &fault) || !CarryWindowsAttributes(hiveFd, fd.Get(), &fault)) {
        if (!temp.empty()) folder.Remove(temp);
        *error = folder.PathOf(record) + ": " + fault.reason;
        return false;
    }
    const std::string text = out.str();
    if (!WriteAll(fd.Get(), text.data(), text.size()) || ::fsync(fd.Get()) != 0 ||
        !folder.Rename(temp, record, &fault)) {
        *error = folder.PathOf(record) + ": " + (fault.reason.empty() ? std::string(std::strerror(errno)) : fault.reason);
        folder.Remove(temp);
        return false;
    }
    folder.Flush();
    return true;
}

namespace {

// What the record beside `backup` says, when kestroctl made it: a record of
// this format, an issued run, and the backup's own fingerprint. Else false,
// *why saying what is wrong with it.
bool ReadRecord(const Folder& folder, const std::string& backup, HiveBackup* found, std::string* hiveLine,
                std::map<std::string, std::string>* logs, std::string* why) {
    const std::string record = BackupRecordPath(backup);
    UniqueFd fd;
    std::string text, error;
    FileFault fault;
    if (!folder.OpenFile(record, O_RDONLY, &fd, &error)) {
        *why = errno == ENOENT ? Localized("there is no record of what the run that made %1 left in place", backup)
                               : error;
        return false;
    }
    if (!ReadDescriptor(fd.Get(), kMaxRecordBytes, &text, &fault)) {
        *why = folder.PathOf(record) + ": " +
               (fault.step == FileStep::TooLarge ? Localized("larger than any record kestroctl writes")
                                                 : fault.reason);
        return false;
    }
    std::istringstream in(text);
    std::string line, backupLine;
    std::getline(in, line);
    if (line != kRecordHeader) {
        *why = Localized("%1 is not a record this kestroctl reads", folder.PathOf(record));
        return false;
    }
    while (std::getline(in, line)) {
        const std::size_t tab = line.find('\t');
        const std::string key = line.substr(0, tab), rest = tab == std::string::npos ? "" : line.substr(tab + 1);
        if (key == "run") found->run = rest;
        else if (key == "when") found->when = rest;
        else if (key == "hive") *hiveLine = rest;
        else if (key == "backup") backupLine = rest;
        else if (key == "log" && rest.find('\t') != std::string::npos)
            (*logs)[rest.substr(0, rest.find('\t'))] = rest.substr(rest.find('\t') + 1);
    }
    if (!IssuedRunName(found->run, static_cast<std::int64_t>(std::time(nullptr)))) {
        *why = Localized("%1 names a run kestroctl never made (\"%2\")", folder.PathOf(record), found->run.substr(0, 64));
        found->run.clear();
        return false;
    }
    std::string now;
    if (!Fingerprint(folder, backup, &now, why)) {
        found->run.clear();
        return false;
    }
    if (now != backupLine) {
        *why = Localized("%1 is not the file its record describes", folder.PathOf(backup));
        found->run.clear();
        return false;
    }
    return true;
}

}  // namespace

namespace {

// Every backup of the hive `name` by number, newest number first, at most
// kMaxCandidates of them; a name kestroctl does not give its backups is
// noted and passed over.
std::vector<std::pair<long, std::string>> NumberedBackups(const Folder& folder, const std::vector<std::string>& entries,
                                                          const std::string& name, HiveBackup* found) {
    std::vector<std::pair<long, std::string>> numbered;
    for (const std::string& entry : entries) {
        if (entry.size() <= name.size() || entry.compare(0, name.size(), name) != 0) continue;
        const std::string suffix = entry.substr(name.size());
        if (suffix.compare(0, std::strlen(kBackupSuffix), kBackupSuffix) != 0 ||
            suffix.find(kRecordSuffix) != std::string::npos)
            continue;
        const long n = BackupNumber(suffix);
        if (n >= 0) numbered.emplace_back(n, suffix);
        else found->notes.push_back(Localized("%1 is not a name kestroctl gives its backups; it is ignored", folder.PathOf(entry)));
    }
    std::sort(numbered.begin(), numbered.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    if (numbered.size() > kMaxCandidates) numbered.resize(kMaxCandidates);
    return numbered;
}

// Of the backups `numbered`, the one whose record kestroctl made for the
// newest run: its suffix, with the record's hive and logs' fingerprints.
// Where none has such a record, the highest-numbered, with found->changed
// saying why it is not trusted; the others passed over go to the notes.
std::string ChooseTrusted(const Folder& folder, const std::string& name,
                          const std::vector<std::pair<long, std::string>>& numbered, HiveBackup* found,
                          std::string* hiveLine, std::map<std::string, std::string>* logs) {
    std::string suffix;
    std::vector<std::string> untrusted;  // why each backup passed over was
    for (const auto& candidate : numbered) {
        HiveBackup read;
        std::string line, why;
        std::map<std::string, std::string> readLogs;
        if (!ReadRecord(folder, name + candidate.second, &read, &line, &readLogs, &why)) {
            untrusted.push_back(why);
            continue;
        }
        if (found->recorded && read.run <= found->run) continue;
        found->recorded = true;
        found->run = read.run;
        found->when = read.when;
        suffix = candidate.second;
        *hiveLine = line;
        *logs = readLogs;
    }
    if (!found->recorded) {
        found->changed = untrusted.front();
        return numbered.front().second;
    }
    for (const std::string& why : untrusted) found->notes.push_back(Localized("%1; that backup is passed over", why));
    return suffix;
}

// The logs' backups made with the hive's of `suffix`: NAME.LOG, .LOG1,
// .LOG2 in any case, with the suffix.
void FindLogBackups(const Folder& folder, const std::vector<std::string>& entries, const std::string& name,
                    const std::string& suffix, HiveBackup* found) {
    for (const std::string& entry : entries) {
        if (entry.size() <= suffix.size() || entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string log = entry.substr(0, entry.size() - suffix.size());
        for (const char* ending : {".LOG", ".LOG1", ".LOG2"})
            if (SameNtfsName(log, name + ending)) found->logs.emplace_back(folder.PathOf(log), folder.PathOf(entry));
    }
}

// The hive and its logs as they are now against the record: found->changed
// says how they differ, if they do.
void CompareWithRecord(const Folder& folder, const std::string& name, const std::string& hiveLine,
                       std::map<std::string, std::string> logs, HiveBackup* found) {
    std::string now, why;
    if (!Fingerprint(folder, name, &now, &why) || now != hiveLine) {
        found->changed = why.empty() || now == hiveLine
                             ? Localized("%1 changed since kestroctl wrote it (%2)", name, found->when)
                             : why;
        return;
    }
    std::vector<std::string> present;
    try {
        present = FindHiveLogs(folder, name);
    } catch (const OfflineError& e) {
        found->changed = e.what();
        return;
    }
    for (const std::string& log : present) {
        auto it = logs.find(log);
        why.clear();
        // A log the record does not name must be empty.
        if (!Fingerprint(folder, log, &now, &why) ||
            (it == logs.end() ? now.compare(0, 2, "0 ") != 0 : now != it->second)) {
            found->changed =
                !why.empty() ? why : Localized("%1 changed since kestroctl wrote %2 (%3)", log, name, found->when);
            return;
        }
        if (it != logs.end()) logs.erase(it);
    }
    if (!logs.empty()) found->changed = Localized("%1 is gone since kestroctl wrote %2", logs.begin()->first, name);
}

}  // namespace

HiveBackup FindNewestBackup(const Folder& folder, const std::string& hivePath) {
    HiveBackup found;
    found.hive = hivePath;
    const std::string name = BaseName(hivePath);
    const std::vector<std::string> entries = folder.Names();
    const std::vector<std::pair<long, std::string>> numbered = NumberedBackups(folder, entries, name, &found);
    if (numbered.empty()) return found;
    std::string hiveLine;
    std::map<std::string, std::string> logs;
    const std::string suffix = ChooseTrusted(folder, name, numbered, &found, &hiveLine, &logs);
    found.backup = folder.PathOf(name + suffix);
    FindLogBackups(folder, entries, name, suffix, &found);
    if (found.recorded) CompareWithRecord(folder, name, hiveLine, logs, &found);
    return found;
}

std::vector<std::string> PruneBackups(const Folder& folder, const std::string& hive, int keep) {
    const std::vector<std::string> entries = folder.Names();
    std::vector<long> numbers;
    for (const std::string& entry : entries)
        if (entry.size() > hive.size() && entry.compare(0, hive.size(), hive) == 0) {
            const long n = BackupNumber(entry.substr(hive.size()));
            if (n >= 0) numbers.push_back(n);
        }
    std::sort(numbers.begin(), numbers.end());
    std::vector<std::string> removed;
    if (keep < 0 || numbers.size() <= static_cast<std::size_t>(keep) + 1) return removed;
    // numbers[0] is the first backup; the last `keep` are the newest runs'.
    for (std::size_t i = 1; i + static_cast<std::size_t>(keep) < numbers.size(); ++i) {
        const std::string suffix =
            numbers[i] == 0 ? std::string(kBackupSuffix) : kBackupSuffix + ("." + std::to_string(numbers[i]));
        for (const std::string& entry : entries) {
            const bool ours = entry.size() > suffix.size() &&
                              entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                              (entry == hive + suffix || SameNtfsName(entry.substr(0, entry.size() - suffix.size()),
                                                                      hive + ".LOG") ||
                               SameNtfsName(entry.substr(0, entry.size() - suffix.size()), hive + ".LOG1") ||
                               SameNtfsName(entry.substr(0, entry.size() - suffix.size()), hive + ".LOG2"));
            if (!ours) continue;
            folder.Remove(BackupRecordPath(entry));
            folder.Remove(entry);
            removed.push_back(folder.PathOf(entry));
        }
    }
    if (!removed.empty()) folder.Flush();
    return removed;
}

std::string PutBack(const Folder& folder, const HiveBackup& backup, std::string* kept) {
    const std::string hive = BaseName(backup.hive), saved = BaseName(backup.backup);
    // Every name is taken in the folder held open, and only a regular file
    // with one name goes back: a backup that is a link would leave the hive
    // a link, and one with a second name would tie the hive to another file.
    std::string why;
    for (const std::string& name : {hive, saved}) {
        UniqueFd fd;
        if (!folder.OpenFile(name, O_RDONLY, &fd, &why)) return Localized("%1; nothing was changed", why);
    }
    for (const auto& log : backup.logs) {
        UniqueFd fd;
        if (!folder.OpenFile(BaseName(log.second), O_RDONLY, &fd, &why)) return Localized("%1; nothing was changed", why);
    }

    // The hive as it is now stays, under a name of its own: a second link
    // to it, so nothing is copied and nothing lost.
    struct stat st;
    std::string replaced = hive + ".kestro-replaced";
    for (int n = 1; folder.Stat(replaced, &st); ++n) replaced = hive + ".kestro-replaced." + std::to_string(n);
    bool moved = false;  // no second link where the file system has none: the hive itself moves aside
    if (::linkat(folder.Fd(), hive.c_str(), folder.Fd(), replaced.c_str(), 0) != 0) {
        const int error = errno;
        if ((error != EPERM && error != ENOTSUP && error != EXDEV) ||
            ::renameat(folder.Fd(), hive.c_str(), folder.Fd(), replaced.c_str()) != 0)
            return Localized("cannot keep %1 as %2: %3; nothing was changed", backup.hive, folder.PathOf(replaced),
                             std::strerror(errno));
        moved = true;
    }
    *kept = folder.PathOf(replaced);
    // Where the hive was moved aside, a failure puts it back under its name.
    const auto undoMove = [&] {
        if (moved && ::renameat(folder.Fd(), replaced.c_str(), folder.Fd(), hive.c_str()) == 0) kept->clear();
    };
    // The logs first: beside the clean hive kestroctl wrote, Windows replays
    // no log, so their old bytes wait harmlessly for the old hive.
    std::size_t done = 0;
    for (const auto& log : backup.logs) {
        if (::renameat(folder.Fd(), BaseName(log.second).c_str(), folder.Fd(), BaseName(log.first).c_str()) != 0) {
            const std::string why = std::strerror(errno);
            undoMove();
            return done ? Localized("cannot put back %1 from %2: %3; the logs before it are back beside the hive "
                                    "kestroctl wrote, which is clean, so Windows does not replay them; run restore "
                                    "again", log.first, log.second, why)
                        : Localized("cannot put back %1 from %2: %3; nothing was changed", log.first, log.second, why);
        }
        ++done;
    }
    if (::renameat(folder.Fd(), saved.c_str(), folder.Fd(), hive.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        undoMove();
        return done ? Localized("cannot put back %1 from %2: %3; its logs are back beside the hive kestroctl wrote, "
                                "which is clean, so Windows does not replay them; run restore again",
                                backup.hive, backup.backup, why)
                    : Localized("cannot put back %1 from %2: %3; nothing was changed", backup.hive, backup.backup, why);
    }
    folder.Flush();
    folder.Remove(BaseName(BackupRecordPath(backup.backup)));
    return std::string();
}

}  // namespace kestro
