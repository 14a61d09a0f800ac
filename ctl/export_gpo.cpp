#include "ctl/export_gpo.h"
#include "ctl/messages.h"

#include "formats/file_bytes.h"
#include "formats/values.h"
#include "core/files.h"

namespace kestro {

namespace {

#ifdef _WIN32
constexpr char kSlash = '\\';
#else
constexpr char kSlash = '/';
#endif

// DIR joined with a '/'-separated path below it, in the system's spelling.
std::string Below(const std::string& dir, const std::string& path) {
    std::string out = dir;
    if (!out.empty() && out.back() != '/' && out.back() != kSlash) out += kSlash;
    for (char c : path) out += c == '/' ? kSlash : c;
    return out;
}

// A text in PowerShell's single quotes, where a quote is doubled.
std::string PowerShellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// The file's folders, outermost first, then the file.
void WriteBelow(const std::string& dir, const GpoFile& file) {
    for (std::size_t slash = file.path.find('/'); slash != std::string::npos; slash = file.path.find('/', slash + 1))
        MakeDirectory(Below(dir, file.path.substr(0, slash)));
    WriteFileBytes(Below(dir, file.path), file.bytes);
}

}  // namespace

int ExportGpo(const std::vector<RegValue>& values, const std::string& dir, const std::string& name,
              const GpoStamp& stamp, Console& console) {
    std::vector<GpoFile> files;
    try {
        files = WriteGpoExport(values, name, stamp);
    } catch (const FormatError& e) {
        console.Err("kestroctl: " + Tr("cannot export: %1", e.what()) + "\n");
        return kExitUsage;
    }
    for (const char* folder : {kGpoWindowsFolder, kGpoSambaFolder}) {
        if (PathExists(Below(dir, folder))) {
            console.Err("kestroctl: " +
                        Tr("%1 exists: a GPO export goes into a folder of its own; nothing was written",
                           Below(dir, folder)) +
                        "\n");
            return kExitUsage;
        }
    }
    try {
        MakeDirectory(dir);
    } catch (const FileError& e) {
        console.Err(std::string("kestroctl: ") + e.what() + "\n");
        return kExitFailed;
    }
    try {
        for (const GpoFile& file : files) WriteBelow(dir, file);
    } catch (const FileError& e) {
        console.Err(std::string("kestroctl: ") + e.what() + "\nkestroctl: " +
                    Tr("the export in %1 is incomplete: remove it and export again", dir) + "\n");
        return kExitFailed;
    }
    const std::string windows = Below(dir, kGpoWindowsFolder);
    console.Out(Tr("%1 values written as the GPO \"%2\" (%3) into %4:", values.size(), name, stamp.gpoId, dir) +
                "\n  " +
                Tr("%1: a Group Policy backup (%2): Import-GPO -Path %1 -BackupGpoName %3 -TargetName %3 "
                   "-CreateIfNeeded, the console's Import Settings, or LGPO.exe /g %1",
                   windows, stamp.backupId, PowerShellQuoted(name)) +
                "\n  " +
                Tr("%1: for a Samba domain controller; there, as root: bash samba/deploy-on-samba.sh [--ou OU_DN] "
                   "[-H ldap://DC -U Administrator]",
                   Below(dir, kGpoSambaFolder)) +
                "\n");
    return kExitOk;
}

}  // namespace kestro
