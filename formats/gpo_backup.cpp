#include "formats/gpo_backup.h"

#include "formats/layout.h"
#include "formats/policy_file.h"
#include "formats/values.h"
#include "core/bytes.h"
#include "core/localized.h"
#include "core/stamp.h"
#include "core/text.h"

#include <cstdio>
#include <stdexcept>

namespace kestro {

namespace {

using Place = FormatError::Place;

constexpr char kRegistryExtension[] = "{35378EAC-683F-11D2-A89A-00C04FBBCFA2}";
constexpr char kManifestNamespace[] = "http://www.microsoft.com/GroupPolicy/GPOOperations/Manifest";
constexpr char kBackupNamespace[] = "http://www.microsoft.com/GroupPolicy/GPOOperations";
constexpr char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
constexpr std::size_t kMaxGpoNameChars = 255;

// The characters XML 1.0 can carry: tab, line feed, carriage return and
// everything from the space up, but not U+FFFE and U+FFFF.
bool XmlCarries(char16_t c) { return c == u'\t' || c == u'\n' || c == u'\r' || (c >= 0x20 && c < 0xFFFE); }

void CheckXmlText(const std::string& text) {
    std::u16string units;
    try {
        units = StrictUtf8ToUtf16(text);
    } catch (const std::invalid_argument&) {
        throw FormatError(Place::None, 0, Localized("a text is not UTF-8"));
    }
    for (char16_t c : units)
        if (!XmlCarries(c)) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            throw FormatError(Place::None, 0, Localized("XML cannot carry the character %1", code));
        }
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); }

std::string Element(const std::string& name, const std::string& cdata) {
    return "<" + name + ">" + XmlCdata(cdata) + "</" + name + ">";
}

// ---- the console's backup ----

// The backup's record, in bkupInfo.xml and again in manifest.xml. The
// domain fields stay empty: the export belongs to no domain, and an import
// takes the target's.
std::string BackupInst(const std::string& name, const GpoStamp& stamp) {
    return Element("GPOGuid", stamp.gpoId) + Element("GPODomain", "") + Element("GPODomainGuid", "") +
           Element("GPODomainController", "") + Element("BackupTime", stamp.time) + Element("ID", stamp.backupId) +
           Element("Comment", "") + Element("GPODisplayName", name);
}

std::string ManifestXml(const std::string& name, const GpoStamp& stamp) {
    return std::string("<Backups xmlns=\"") + kManifestNamespace + "\" xmlns:mfst=\"" + kManifestNamespace +
           "\" mfst:version=\"1.0\"><BackupInst>" + BackupInst(name, stamp) + "</BackupInst></Backups>";
}

std::string BackupInfoXml(const std::string& name, const GpoStamp& stamp) {
    return std::string("<BackupInst xmlns=\"") + kManifestNamespace + "\">" + BackupInst(name, stamp) +
           "</BackupInst>\r\n";
}

// One side's version in Backup.xml: the directory's count in the high 16
// bits and SYSVOL's in the low 16, both 1 for a side that holds values.
std::string SideVersion(bool hasValues) { return hasValues ? "65537" : "0"; }

std::string ExtensionNames(const char* tag, bool hasValues, const char* names) {
    return hasValues ? Element(tag, names) : "<" + std::string(tag) + "/>";
}

std::string RegistryFile(const char* pathVariable, const char* side) {
    return std::string("            <FSObjectFile bkp:Path=\"") + pathVariable +
           "\\registry.pol\" bkp:Location=\"DomainSysvol\\GPO\\" + side + "\\registry.pol\"/>\r\n";
}

std::string BackupXml(const std::string& name, const GpoStamp& stamp, bool user, bool machine) {
    std::string core = Element("ID", stamp.gpoId) + Element("Domain", "") + "<SecurityDescriptor></SecurityDescriptor>" +
                       Element("DisplayName", name) + Element("Options", "0") +
                       Element("UserVersionNumber", SideVersion(user)) +
                       Element("MachineVersionNumber", SideVersion(machine)) +
                       ExtensionNames("MachineExtensionGuids", machine, kGpoMachineExtensionNames) +
                       ExtensionNames("UserExtensionGuids", user, kGpoUserExtensionNames) + "<WMIFilter/>";
    std::string text = std::string(kXmlDeclaration) +
                       "<GroupPolicyBackupScheme bkp:version=\"2.0\" bkp:type=\"GroupPolicyBackupTemplate\" xmlns:bkp=\"" +
                       kBackupNamespace + "\" xmlns=\"" + kBackupNamespace + "\">\r\n" +
                       "    <GroupPolicyObject><SecurityGroups/><FilePaths/><GroupPolicyCoreSettings>" + core +
                       "</GroupPolicyCoreSettings>\r\n" + "        <GroupPolicyExtension bkp:ID=\"" +
                       kRegistryExtension + "\" bkp:DescName=\"Registry\">\r\n";
    if (machine) text += RegistryFile("%GPO_MACH_FSPATH%", "Machine");
    if (user) text += RegistryFile("%GPO_USER_FSPATH%", "User");
    text += "            <FSObjectFile bkp:Path=\"%GPO_FSPATH%\\Adm\\*.*\"/>\r\n"
            "        </GroupPolicyExtension>\r\n"
            "    </GroupPolicyObject>\r\n"
            "</GroupPolicyBackupScheme>";
    return text;
}

// ---- samba-tool's backup ----

// An element on a line of its own, indented with tabs as minidom's
// toprettyxml writes it; an empty text is an empty element.
std::string PrettyLeaf(int depth, const std::string& name, const std::string& text) {
    const std::string indent(static_cast<std::size_t>(depth), '\t');
    if (text.empty()) return indent + "<" + name + "/>\n";
    return indent + "<" + name + ">" + XmlEscaped(text) + "</" + name + ">\n";
}

// Registry.pol.xml: the entries of the file's own bytes, read back, so that
// the XML and the file cannot disagree.
std::string RegistryPolXml(const std::vector<std::uint8_t>& bytes, PolicyScope scope) {
    const std::vector<RegValue> entries = ReadPolicyFile(bytes, scope);
    std::string text = std::string(kXmlDeclaration) + "\n<PolFile num_entries=\"" + std::to_string(entries.size()) +
                       "\" signature=\"PReg\" version=\"1\">\n";
    for (const RegValue& entry : entries) {
        std::string value;
        if (entry.type == kRegDword) {
            value = std::to_string(LoadLe32(entry.data.data()));
        } else {
            std::u16string units;
            TextFromData(entry.data, &units);  // the reader checked it
            value = StrictUtf16ToUtf8(units);
        }
        text += std::string("\t<Entry type=\"") + std::to_string(entry.type) + "\" type_name=\"" +
                (entry.type == kRegDword ? "REG_DWORD" : "REG_SZ") + "\">\n" + PrettyLeaf(2, "Key", entry.keyPath) +
                PrettyLeaf(2, "ValueName", entry.name) + PrettyLeaf(2, "Value", value) + "\t</Entry>\n";
    }
    return text + "</PolFile>\n";
}

std::string GptIniXml(std::uint32_t version) {
    return std::string(kXmlDeclaration) +
           "\n<IniFile>\n\t<Section name=\"General\">\n\t\t<Parameter>\n\t\t\t<Key>Version</Key>\n\t\t\t<Value>" +
           std::to_string(version) + "</Value>\n\t\t</Parameter>\n\t</Section>\n</IniFile>\n";
}

std::string GptIni(std::uint32_t version) { return "[General]\r\nVersion=" + std::to_string(version) + "\r\n"; }

// A text in single quotes for the shell: a quote inside ends the quoting,
// adds an escaped quote and starts it again.
std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string DeployScript(const std::string& name, std::uint32_t version) {
    const std::string v = std::to_string(version);
    return "#!/bin/bash\n"
           "# Deploys the GPO that `kestroctl export gpo` wrote beside this script, on a\n"
           "# Samba domain controller, in one step:\n"
           "#\n"
           "#   bash deploy-on-samba.sh [--ou OU_DN] [samba-tool's connection options]\n"
           "#\n"
           "# for example, as root on the DC:\n"
           "#   bash deploy-on-samba.sh --ou 'OU=Pupils,DC=school,DC=lan' -H ldap://dc1 -U Administrator\n"
           "#\n"
           "# It restores backup/ as a new GPO (samba-tool gpo restore, which refuses a\n"
           "# name that is taken), sets the GPO's versionNumber to its GPT.INI's version,\n"
           "# which clients compare before they apply it, and links it to the OU when\n"
           "# one is given. Any failure after the restore removes the new GPO again,\n"
           "# so the command can simply be run once more.\n"
           "name=" + ShellQuoted(name) + "\n"
           "version=" + v + "  # user changes in the high 16 bits, machine changes in the low 16\n"
           "here=$(cd \"$(dirname \"$0\")\" && pwd) || exit 1\n"
           "ou=\n"
           "if [ \"$1\" = --ou ]; then\n"
           "    if [ $# -lt 2 ]; then echo \"deploy-on-samba.sh: --ou needs the OU's distinguished name\" >&2; exit 2; fi\n"
           "    ou=$2\n"
           "    shift 2\n"
           "fi\n"
           "connection=(\"$@\")\n"
           "tmp=$(mktemp -d) || exit 1\n"
           "trap 'rm -rf \"$tmp\"' EXIT\n"
           "guid=\n"
           "\n"
           "fail() {\n"
           "    echo \"deploy-on-samba.sh: $1\" >&2\n"
           "    if [ -n \"$guid\" ]; then\n"
           "        if samba-tool gpo del \"$guid\" \"${connection[@]}\" >/dev/null 2>&1; then\n"
           "            echo \"deploy-on-samba.sh: the new GPO $guid was removed again; nothing was deployed\" >&2\n"
           "        else\n"
           "            echo \"deploy-on-samba.sh: the new GPO $guid could not be removed: samba-tool gpo del $guid\" >&2\n"
           "        fi\n"
           "    fi\n"
           "    exit 1\n"
           "}\n"
           "\n"
           "# On Samba 4.17, restore fails without --tmpdir; --restore-metadata keeps\n"
           "# the backup's GPT.INI, whose version is the one set below.\n"
           "out=$(samba-tool gpo restore \"$name\" \"$here/backup\" --tmpdir=\"$tmp\" --restore-metadata \"${connection[@]}\" 2>&1)\n"
           "status=$?\n"
           "printf '%s\\n' \"$out\"\n"
           "# A failed restore removes its GPO itself.\n"
           "[ $status -eq 0 ] || fail \"samba-tool gpo restore failed; nothing was deployed\"\n"
           "guid=$(printf '%s\\n' \"$out\" | sed -n 's/.* created as \\({[0-9A-Fa-f-]*}\\)$/\\1/p' | tail -n 1)\n"
           "[ -n \"$guid\" ] || fail \"samba-tool gpo restore named no new GPO\"\n"
           "\n"
           "# Restore leaves versionNumber at 0, and clients take such a GPO for empty.\n"
           "/usr/bin/python3 - \"$guid\" \"$version\" \"${connection[@]}\" <<'PYTHON' || fail \"versionNumber of $guid could not be set to $version\"\n"
           "import optparse\n"
           "import sys\n"
           "\n"
           "import ldb\n"
           "from samba import getopt as options\n"
           "from samba.auth import system_session\n"
           "from samba.samdb import SamDB\n"
           "\n"
           "guid, version = sys.argv[1], sys.argv[2]\n"
           "parser = optparse.OptionParser()\n"
           "sambaopts = options.SambaOptions(parser)\n"
           "credopts = options.CredentialsOptions(parser)\n"
           "parser.add_option_group(sambaopts)\n"
           "parser.add_option_group(credopts)\n"
           "parser.add_option(\"-H\", \"--URL\", dest=\"H\")\n"
           "opts, _ = parser.parse_args(sys.argv[3:])\n"
           "lp = sambaopts.get_loadparm()\n"
           "creds = credopts.get_credentials(lp, fallback_machine=True)\n"
           "db = SamDB(url=opts.H or lp.samdb_url(), session_info=system_session(), credentials=creds, lp=lp)\n"
           "dn = ldb.Dn(db, \"CN=%s,CN=Policies,CN=System,%s\" % (guid, db.domain_dn()))\n"
           "msg = ldb.Message(dn)\n"
           "msg[\"versionNumber\"] = ldb.MessageElement(version, ldb.FLAG_MOD_REPLACE, \"versionNumber\")\n"
           "db.modify(msg)\n"
           "got = str(db.search(base=dn, scope=ldb.SCOPE_BASE, attrs=[\"versionNumber\"])[0][\"versionNumber\"][0])\n"
           "if got != version:\n"
           "    sys.exit(\"versionNumber reads back as %s\" % got)\n"
           "print(\"versionNumber of %s set to %s\" % (guid, version))\n"
           "PYTHON\n"
           "\n"
           "if [ -n \"$ou\" ]; then\n"
           "    samba-tool gpo setlink \"$ou\" \"$guid\" \"${connection[@]}\" || fail \"the GPO could not be linked to $ou\"\n"
           "fi\n"
           "echo \"deploy-on-samba.sh: GPO '$name' deployed as $guid, version $version${ou:+, linked to $ou}\"\n";
}

void Add(std::vector<GpoFile>& files, std::string path, const std::string& text) {
    files.push_back({std::move(path), Bytes(text)});
}

}  // namespace

std::string XmlEscaped(const std::string& text) {
    CheckXmlText(text);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '"': out += "&quot;"; break;
            case '>': out += "&gt;"; break;
            case '\r': out += "&#13;"; break;  // a parser turns a raw one into a line feed
            default: out += c;
        }
    }
    return out;
}

std::string XmlCdata(const std::string& text) {
    CheckXmlText(text);
    // A raw carriage return in CDATA is a line feed to a parser too.
    std::string out = "<![CDATA[";
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, "]]>") == 0) {
            out += "]]]]><![CDATA[>";
            i += 2;
        } else if (text[i] == '\r') {
            out += "]]>&#13;<![CDATA[";
        } else {
            out += text[i];
        }
    }
    return out + "]]>";
}

std::string GuidText(const std::uint8_t (&random)[16]) {
    std::uint8_t b[16];
    for (int i = 0; i < 16; ++i) b[i] = random[i];
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4: random
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

GpoStamp NewGpoStamp() {
    std::uint8_t gpo[16], backup[16];
    std::string error;
    if (!RandomBytes(gpo, sizeof gpo, &error) || !RandomBytes(backup, sizeof backup, &error))
        throw std::runtime_error(Localized("no identifier for the GPO: %1", error));
    return GpoStamp{GuidText(gpo), GuidText(backup), UtcTimeText()};
}

std::uint32_t GpoVersion(std::uint32_t userChanges, std::uint32_t machineChanges) {
    return (userChanges & 0xFFFFu) << 16 | (machineChanges & 0xFFFFu);
}

std::string GpoNameProblem(const std::string& name) {
    std::u16string units;
    try {
        units = StrictUtf8ToUtf16(name);
    } catch (const std::invalid_argument&) {
        return Localized("the GPO's name is not UTF-8");
    }
    if (units.empty()) return Localized("the GPO's name is empty");
    if (units.size() > kMaxGpoNameChars)
        return Localized("the GPO's name is longer than %1 characters", kMaxGpoNameChars);
    for (char16_t c : units)
        if (c < 0x20 || c == 0x7F || c >= 0xFFFE) return Localized("the GPO's name holds a control character");
    return std::string();
}

std::vector<GpoFile> WriteGpoExport(const std::vector<RegValue>& values, const std::string& name,
                                    const GpoStamp& stamp) {
    const std::string problem = GpoNameProblem(name);
    if (!problem.empty()) throw FormatError(Place::None, 0, problem);
    if (values.empty()) throw FormatError(Place::None, 0, Localized("no values to export: the GPO would be empty"));
    const PolicyFiles pol = WritePolicyFiles(values);
    const bool user = pol.user.size() > layout::kPolHeaderBytes;
    const bool machine = pol.machine.size() > layout::kPolHeaderBytes;
    const std::uint32_t version = GpoVersion(user ? 1 : 0, machine ? 1 : 0);

    std::vector<GpoFile> files;
    const std::string windows = std::string(kGpoWindowsFolder) + "/";
    const std::string backup = windows + stamp.backupId + "/";
    Add(files, windows + "manifest.xml", ManifestXml(name, stamp));
    Add(files, backup + "bkupInfo.xml", BackupInfoXml(name, stamp));
    Add(files, backup + "Backup.xml", BackupXml(name, stamp, user, machine));
    if (machine) files.push_back({backup + "DomainSysvol/GPO/Machine/registry.pol", pol.machine});
    if (user) files.push_back({backup + "DomainSysvol/GPO/User/registry.pol", pol.user});

    const std::string samba = std::string(kGpoSambaBackupFolder) + "/";
    Add(files, samba + "GPT.INI.xml", GptIniXml(version));
    Add(files, samba + "GPT.INI.SAMBABACKUP", GptIni(version));
    if (machine) {
        Add(files, samba + "Machine/Registry.pol.xml", RegistryPolXml(pol.machine, PolicyScope::Machine));
        files.push_back({samba + "Machine/Registry.pol.SAMBABACKUP", pol.machine});
        Add(files, samba + "gPCMachineExtensionNames.SAMBAEXT", kGpoMachineExtensionNames);
    }
    if (user) {
        Add(files, samba + "User/Registry.pol.xml", RegistryPolXml(pol.user, PolicyScope::User));
        files.push_back({samba + "User/Registry.pol.SAMBABACKUP", pol.user});
        Add(files, samba + "gPCUserExtensionNames.SAMBAEXT", kGpoUserExtensionNames);
    }
    Add(files, kGpoSambaDeployScript, DeployScript(name, version));
    return files;
}

}  // namespace kestro
