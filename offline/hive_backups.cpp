#include "offline/hive_backups.h"

#include "offline/volume.h"
#include "offline/hive_names.h"
#include "offline/offline_error.h"
#include "core/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro {

namespace {

constexpr const char kBackupSuffix[] = ".kestro-bak";
constexpr const char kRecordSuffix[] = ".kestro-record";
constexpr const char kRecordHeader[] = "kestro commit record 1";

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    ::closedir(d);
    return names;
}

// The number of a backup suffix: 0 for ".kestro-bak", N for ".kestro-bak.N";
// -1 for anything else (a record, a log's backup).
long BackupNumber(const std::string& suffix) {
    const std::size_t base = std::strlen(kBackupSuffix);
    if (suffix.compare(0, base, kBackupSuffix) != 0) return -1;
    if (suffix.size() == base) return 0;
    if (suffix[base] != '.' || suffix.size() == base + 1 || suffix.size() > base + 10) return -1;
    long n = 0;
    for (std::size_t i = base + 1; i < suffix.size(); ++i) {
        if (suffix[i] < '0' || suffix[i] > '9') return -1;
        n = n * 10 + (suffix[i] - '0');
    }
    return n;
}

std::string Hex(std::uint64_t n) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(n));
    return text;
}

// "NAME SIZE HASH" of a file as it is now.
bool Fingerprint(const std::string& path, std::string* line) {
    std::uint64_t hash = 0, size = 0;
    if (!HashFile(path, &hash, &size)) return false;
    *line = std::to_string(size) + " " + Hex(hash);
    return true;
}

}  // namespace

bool HashFile(const std::string& path, std::uint64_t* hash, std::uint64_t* size) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::uint64_t h = 0xcbf29ce484222325ull, total = 0;
    std::vector<unsigned char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) break;
        // Whole words, then the bytes left; the size at the end tells a
        // file from the same file with zero bytes added.
        std::size_t i = 0;
        for (; i + 8 <= static_cast<std::size_t>(got); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, &buffer[i], 8);
            h = (h ^ word) * 0x100000001b3ull;
        }
        for (; i < static_cast<std::size_t>(got); ++i) h = (h ^ buffer[i]) * 0x100000001b3ull;
        total += static_cast<std::uint64_t>(got);
    }
    ::close(fd);
    *hash = (h ^ total) * 0x100000001b3ull;
    *size = total;
    return ok;
}

std::string NextBackupSuffix(const std::vector<std::string>& entries, const std::vector<std::string>& names) {
    long highest = -1;
    for (const std::string& entry : entries)
        for (const std::string& name : names)
            if (entry.size() > name.size() && SameNtfsName(entry.substr(0, name.size()), name))
                highest = std::max(highest, BackupNumber(entry.substr(name.size())));
    return highest < 0 ? std::string(kBackupSuffix) : kBackupSuffix + ("." + std::to_string(highest + 1));
}

std::string BackupRecordPath(const std::string& backup) { return backup + kRecordSuffix; }

bool RecordCommit(const std::string& hive, const std::string& backup, const std::string& run, std::string* error) {
    std::string line;
    if (!Fingerprint(hive, &line)) {
        *error = "cannot read " + hive + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream out;
    const std::time_t now = std::time(nullptr);
    char when[32] = "";
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
    out << kRecordHeader << "\nrun\t" << run << "\nwhen\t" << when << "\nhive\t" << line << "\n";
    // Every log beside it, as left: emptied ones and untouched ones alike,
    // since Windows writes its logs before its hive.
    std::vector<std::string> logs;
    try {
        logs = FindHiveLogs(hive);
    } catch (const OfflineError& e) {
        *error = e.what();  // after the commit: a missing record is a warning, not a failure
        return false;
    }
    for (const std::string& log : logs) {
        if (!Fingerprint(log, &line)) {
            *error = "cannot read " + log + ": " + std::strerror(errno);
            return false;
        }
        out << "log\t" << BaseName(log) << "\t" << line << "\n";
    }
    return WriteFileAtomically(BackupRecordPath(backup), out.str(), error);
}

namespace {

// The hive's newest backup and its logs' backups with the same suffix
// (NAME.LOG, .LOG1, .LOG2 in any case); false when it has none.
bool FindBackupFiles(HiveBackup* found) {
    const std::string dir = DirName(found->hive), name = BaseName(found->hive);
    const std::vector<std::string> entries = Entries(dir);
    long newest = -1;
    std::string suffix;
    for (const std::string& entry : entries) {
        if (entry.size() <= name.size() || entry.compare(0, name.size(), name) != 0) continue;
        const long n = BackupNumber(entry.substr(name.size()));
        if (n > newest) {
            newest = n;
            suffix = entry.substr(name.size());
        }
    }
    if (newest < 0) return false;
    found->backup = dir + "/" + name + suffix;
    for (const std::string& entry : entries) {
        if (entry.size() <= suffix.size() || entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string log = entry.substr(0, entry.size() - suffix.size());
        for (const char* ending : {".LOG", ".LOG1", ".LOG2"})
            if (SameNtfsName(log, name + ending)) found->logs.emplace_back(dir + "/" + log, dir + "/" + entry);
    }
    return true;
}

// What the record beside the backup says: its run and time into *found,
// the hive's fingerprint, and each log's by name. False, with
// found->changed saying why, when there is no record this reads.
bool ReadRecord(HiveBackup* found, std::string* hiveLine, std::map<std::string, std::string>* logs) {
    std::string text, error;
    if (!ReadWholeFile(BackupRecordPath(found->backup), 1 << 16, &text, &error)) {
        found->changed = "there is no record of what the run that made " + BaseName(found->backup) +
                         " left in place (" + error + ")";
        return false;
    }
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    if (line != kRecordHeader) {
        found->changed = BackupRecordPath(found->backup) + " is not a record this kestroctl reads";
        return false;
    }
    while (std::getline(in, line)) {
        const std::size_t tab = line.find('\t');
        const std::string key = line.substr(0, tab), rest = tab == std::string::npos ? "" : line.substr(tab + 1);
        if (key == "run") found->run = rest;
        else if (key == "when") found->when = rest;
        else if (key == "hive") *hiveLine = rest;
        else if (key == "log" && rest.find('\t') != std::string::npos)
            (*logs)[rest.substr(0, rest.find('\t'))] = rest.substr(rest.find('\t') + 1);
    }
    found->recorded = true;
    return true;
}

}  // namespace

HiveBackup FindNewestBackup(const std::string& hive) {
    HiveBackup found;
    found.hive = hive;
    if (!FindBackupFiles(&found)) return found;
    std::string hiveLine;
    std::map<std::string, std::string> logs;
    if (!ReadRecord(&found, &hiveLine, &logs)) return found;
    const std::string name = BaseName(hive);
    std::string now;
    if (!Fingerprint(hive, &now) || now != hiveLine) {
        found.changed = name + " changed since kestroctl wrote it (" + found.when + ")";
        return found;
    }
    for (const std::string& log : FindHiveLogs(hive)) {
        auto it = logs.find(BaseName(log));
        if (!Fingerprint(log, &now) || (it == logs.end() ? now.compare(0, 2, "0 ") != 0 : now != it->second)) {
            found.changed = BaseName(log) + " changed since kestroctl wrote " + name + " (" + found.when + ")";
            return found;
        }
        if (it != logs.end()) logs.erase(it);
    }
    if (!logs.empty()) found.changed = logs.begin()->first + " is gone since kestroctl wrote " + name;
    return found;
}

std::string PutBack(const Folder& folder, const HiveBackup& backup, std::string* kept) {
    const std::string hive = BaseName(backup.hive), saved = BaseName(backup.backup);
    // Every name is taken in the folder held open, and only a regular file
    // goes back: a backup that is a link would leave the hive a link.
    const auto regular = [&folder](const std::string& name) {
        struct stat st;
        return folder.Stat(name, &st) && S_ISREG(st.st_mode);
    };
    for (const std::string& name : {hive, saved})
        if (!regular(name)) return folder.PathOf(name) + " is not a regular file; nothing was changed";
    for (const auto& log : backup.logs)
        if (!regular(BaseName(log.second)))
            return log.second + " is not a regular file; nothing was changed";

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
            return "cannot keep " + backup.hive + " as " + folder.PathOf(replaced) + ": " + std::strerror(errno) +
                   "; nothing was changed";
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
            return "cannot put back " + log.first + " from " + log.second + ": " + why +
                   (done ? "; the logs before it are back beside the hive kestroctl wrote, which is clean, so "
                           "Windows does not replay them; run restore again"
                         : "; nothing was changed");
        }
        ++done;
    }
    if (::renameat(folder.Fd(), saved.c_str(), folder.Fd(), hive.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        undoMove();
        return "cannot put back " + backup.hive + " from " + backup.backup + ": " + why +
               (done ? "; its logs are back beside the hive kestroctl wrote, which is clean, so Windows does not "
                       "replay them; run restore again"
                     : "; nothing was changed");
    }
    folder.Flush();
    folder.Remove(BaseName(BackupRecordPath(backup.backup)));
    return std::string();
}

}  // namespace kestro
