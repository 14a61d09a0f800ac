// A whole Group Policy object as files, ready for a domain to take in one
// step, in the two forms domains read:
// - windows/: a Group Policy backup as the Group Policy Management Console
//   writes one (manifest.xml, {BackupId}/bkupInfo.xml, {BackupId}/Backup.xml,
//   {BackupId}/DomainSysvol/GPO/Machine|User/registry.pol), which Import-GPO,
//   the console's "Import Settings" and LGPO.exe /g take. The layout is not
//   documented: it follows backups the console made (the Security Compliance
//   Toolkit's baselines and others in public repositories);
// - samba/: a backup as `samba-tool gpo backup` writes one (the .xml forms
//   `samba-tool gpo restore` reads, the raw .SAMBABACKUP copies and the
//   extension names as .SAMBAEXT files), and deploy-on-samba.sh, the one
//   command that restores it on a domain controller, raises its version
//   and links it.
// Only the sides (User, Machine) that hold values are written; the
// Registry.pol bytes are policy_file's, and every XML form lists exactly
// the entries of those bytes.
#pragma once

#include "formats/reg_value.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestro {

// The registry client-side extension with the policy editor's machine or
// user tool: what gPCMachineExtensionNames and gPCUserExtensionNames must
// name for clients to read a GPO's Registry.pol.
constexpr char kGpoMachineExtensionNames[] =
    "[{35378EAC-683F-11D2-A89A-00C04FBBCFA2}{0F6B957D-509E-11D1-A7CC-0000F87571E3}]";
constexpr char kGpoUserExtensionNames[] =
    "[{35378EAC-683F-11D2-A89A-00C04FBBCFA2}{0F6B957E-509E-11D1-A7CC-0000F87571E3}]";

// The export's two folders, one per kind of domain.
constexpr char kGpoWindowsFolder[] = "windows";
constexpr char kGpoSambaFolder[] = "samba";
constexpr char kGpoSambaBackupFolder[] = "samba/backup";
constexpr char kGpoSambaDeployScript[] = "samba/deploy-on-samba.sh";

// What makes one export its own: a new GPO and a new backup every time.
struct GpoStamp {
    std::string gpoId;     // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    std::string backupId;  // the same form
    std::string time;      // UTC, "YYYY-MM-DDTHH:MM:SS"
};

// Fresh identifiers from the system's random source and the time now.
// Throws std::runtime_error when the system has no random bytes to give.
GpoStamp NewGpoStamp();

// A random (version 4) GUID from 16 random bytes, in braces and upper case
// as Group Policy spells GUIDs.
std::string GuidText(const std::uint8_t (&random)[16]);

// A GPO's version: user changes in the high 16 bits, machine changes in
// the low 16 (65537 is one of each). Clients apply a GPO only when it
// changes, and take 0 for an empty GPO.
std::uint32_t GpoVersion(std::uint32_t userChanges, std::uint32_t machineChanges);

// Why the text cannot be a GPO's display name (empty when it can): empty,
// longer than 255 characters, not UTF-8, or holding a control character.
std::string GpoNameProblem(const std::string& name);

struct GpoFile {
    std::string path;  // below the export's folder, '/' between names
    std::vector<std::uint8_t> bytes;
};

// Every file of the export, its path below the export's folder. Throws
// FormatError for values a policy file cannot carry (policy_file's
// checks), for no values at all, for a text that XML cannot carry, and for
// a name GpoNameProblem refuses.
std::vector<GpoFile> WriteGpoExport(const std::vector<RegValue>& values, const std::string& name,
                                    const GpoStamp& stamp);

// ---- XML, as the files' writers spell it ----
// Element text or an attribute value, with &, <, > and " escaped as
// Python's minidom (what samba-tool writes with) escapes them, and a
// carriage return as a character reference, which a parser keeps. Throws
// FormatError for a character XML 1.0 cannot carry at all (other control
// characters, U+FFFE, U+FFFF) or for text that is not UTF-8.
std::string XmlEscaped(const std::string& text);
// The text in CDATA sections, as the console writes its values: a "]]>"
// inside is split across two sections. Same refusals as XmlEscaped.
std::string XmlCdata(const std::string& text);

}  // namespace kestro
