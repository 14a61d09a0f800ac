#include "ctl/export_gpo.h"

#include "formats/file_bytes.h"
#include "formats/values.h"
#include "platform/files.h"

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
        console.Err(std::string("kestroctl: cannot export: ") + e.what() + "\n");
        return kExitUsage;
    }
    for (const char* folder : {kGpoWindowsFolder, kGpoSambaFolder}) {
        if (PathExists(Below(dir, folder))) {
            console.Err("kestroctl: " + Below(dir, folder) +
                        " exists: a GPO export goes into a folder of its own; nothing was written\n");
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
        console.Err(std::string("kestroctl: ") + e.what() + "\nkestroctl: the export in " + dir +
                    " is incomplete: remove it and export again\n");
        return kExitFailed;
    }
    console.Out(std::to_string(values.size()) + " values written as the GPO \"" + name + "\" (" + stamp.gpoId +
                "):\n  " + Below(dir, std::string(kGpoWindowsFolder) + "/" + stamp.backupId) +
                "   for Import-GPO -Path " + Below(dir, kGpoWindowsFolder) + " -BackupGpoName NAME -TargetName NAME"
                " -CreateIfNeeded, the console's Import Settings, or LGPO.exe /g\n  " +
                Below(dir, kGpoSambaBackupFolder) + "   for a Samba domain controller: bash " +
                Below(dir, kGpoSambaDeployScript) + " [--ou OU_DN] [-H ldap://DC -U Administrator]\n");
    return kExitOk;
}

}  // namespace kestro
