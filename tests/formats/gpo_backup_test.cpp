// The GPO export's files: the XML texts, the identifiers, the version, and
// which files each side of the GPO brings. What Samba and a domain
// controller make of them is tested against Samba itself
// (gpo_export_check.py, samba_domain.sh).
#include "formats/gpo_backup.h"

#include "formats/layout.h"
#include "formats/policy_file.h"
#include "tests/formats/format_test_values.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

namespace kestro {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::Dword;
using testing::SampleValues;
using testing::Text;

const GpoStamp kStamp{"{11111111-2222-4333-8444-555555555555}", "{AAAAAAAA-BBBB-4CCC-9DDD-EEEEEEEEEEEE}",
                      "2026-12-08T13:30:00"};

std::string Refusal(std::string (*write)(const std::string&), const std::string& text) {
    try {
        write(text);
    } catch (const FormatError& e) {
        return e.what();
    }
    return "";
}

TEST(GpoXml, EscapesAsMinidomAndKeepsACarriageReturn) {
    EXPECT_EQ("a &amp; b &lt;c&gt; &quot;d&quot; 'e'", XmlEscaped("a & b <c> \"d\" 'e'"));
    EXPECT_EQ("Корзина\t1\n2&#13;3", XmlEscaped("Корзина\t1\n2\r3"));
    EXPECT_EQ("", XmlEscaped(""));
}

TEST(GpoXml, CdataSplitsItsEndMarkerAndKeepsACarriageReturn) {
    EXPECT_EQ("<![CDATA[a & <b>]]>", XmlCdata("a & <b>"));
    EXPECT_EQ("<![CDATA[x]]]]><![CDATA[>y]]>", XmlCdata("x]]>y"));
    EXPECT_EQ("<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>", XmlCdata("]]>]]>"));
    EXPECT_EQ("<![CDATA[a]]>&#13;<![CDATA[b]]>", XmlCdata("a\rb"));
    EXPECT_EQ("<![CDATA[]]>", XmlCdata(""));
}

TEST(GpoXml, RefusesWhatXmlCannotCarry) {
    for (auto write : {XmlEscaped, XmlCdata}) {
        EXPECT_THAT(Refusal(write, std::string("a\x01" "b")), HasSubstr("U+0001"));
        EXPECT_THAT(Refusal(write, "\xEF\xBF\xBE"), HasSubstr("U+FFFE"));  // U+FFFE
        EXPECT_THAT(Refusal(write, "\xC3"), HasSubstr("not UTF-8"));
        EXPECT_EQ("", Refusal(write, "\xF0\x9F\x98\x80"));  // a pair of surrogates is a character
    }
}

TEST(GpoIdentity, GuidsAreVersionFourInBracesAndUpperCase) {
    std::uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(0xF0 | i);
    EXPECT_EQ("{F0F1F2F3-F4F5-46F7-B8F9-FAFBFCFDFEFF}", GuidText(bytes));
    std::fill(std::begin(bytes), std::end(bytes), 0);
    EXPECT_EQ("{00000000-0000-4000-8000-000000000000}", GuidText(bytes));
}

TEST(GpoIdentity, EveryStampIsNew) {
    const std::regex guid(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})");
    const GpoStamp a = NewGpoStamp(), b = NewGpoStamp();
    for (const std::string& id : {a.gpoId, a.backupId, b.gpoId, b.backupId}) EXPECT_TRUE(std::regex_match(id, guid)) << id;
    EXPECT_NE(a.gpoId, a.backupId);
    EXPECT_NE(a.gpoId, b.gpoId);
    EXPECT_NE(a.backupId, b.backupId);
    EXPECT_TRUE(std::regex_match(a.time, std::regex(R"(20\d\d-[01]\d-[0-3]\dT[0-2]\d:[0-5]\d:[0-6]\d)"))) << a.time;
}

TEST(GpoVersionNumber, CountsUsersHighAndMachinesLow) {
    EXPECT_EQ(65537u, GpoVersion(1, 1));
    EXPECT_EQ(65536u, GpoVersion(1, 0));
    EXPECT_EQ(1u, GpoVersion(0, 1));
    EXPECT_EQ(0x00020003u, GpoVersion(2, 3));
}

TEST(GpoName, RefusesWhatNoGpoCanBeCalled) {
    EXPECT_EQ("", GpoNameProblem("Kestro: класс 5 & \"гости\""));
    EXPECT_THAT(GpoNameProblem(""), HasSubstr("empty"));
    EXPECT_THAT(GpoNameProblem("a\tb"), HasSubstr("control"));
    EXPECT_THAT(GpoNameProblem("\xFF"), HasSubstr("UTF-8"));
    EXPECT_EQ("", GpoNameProblem(std::string(255, 'x')));
    EXPECT_THAT(GpoNameProblem(std::string(256, 'x')), HasSubstr("255"));
}

std::map<std::string, std::string> Files(const std::vector<RegValue>& values, const std::string& name = "Kestro") {
    std::map<std::string, std::string> out;
    for (const GpoFile& file : WriteGpoExport(values, name, kStamp)) {
        EXPECT_EQ(0u, out.count(file.path)) << "written twice: " << file.path;
        out[file.path] = std::string(file.bytes.begin(), file.bytes.end());
    }
    return out;
}

std::vector<std::string> Paths(const std::map<std::string, std::string>& files) {
    std::vector<std::string> out;
    for (const auto& file : files) out.push_back(file.first);
    return out;
}

std::string AsText(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

const std::string kBackup = "windows/{AAAAAAAA-BBBB-4CCC-9DDD-EEEEEEEEEEEE}/";

TEST(GpoExport, BothSidesBringEveryFileWithThePolicyFilesBytes) {
    const auto files = Files(SampleValues());
    const PolicyFiles pol = WritePolicyFiles(SampleValues());
    EXPECT_THAT(Paths(files), ::testing::UnorderedElementsAre(
                                  "windows/manifest.xml", kBackup + "bkupInfo.xml", kBackup + "Backup.xml",
                                  kBackup + "DomainSysvol/GPO/Machine/registry.pol",
                                  kBackup + "DomainSysvol/GPO/User/registry.pol", "samba/backup/GPT.INI.xml",
                                  "samba/backup/GPT.INI.SAMBABACKUP", "samba/backup/Machine/Registry.pol.xml",
                                  "samba/backup/Machine/Registry.pol.SAMBABACKUP", "samba/backup/User/Registry.pol.xml",
                                  "samba/backup/User/Registry.pol.SAMBABACKUP",
                                  "samba/backup/gPCMachineExtensionNames.SAMBAEXT",
                                  "samba/backup/gPCUserExtensionNames.SAMBAEXT", "samba/deploy-on-samba.sh"));
    EXPECT_EQ(AsText(pol.machine), files.at(kBackup + "DomainSysvol/GPO/Machine/registry.pol"));
    EXPECT_EQ(AsText(pol.user), files.at(kBackup + "DomainSysvol/GPO/User/registry.pol"));
    EXPECT_EQ(AsText(pol.machine), files.at("samba/backup/Machine/Registry.pol.SAMBABACKUP"));
    EXPECT_EQ(AsText(pol.user), files.at("samba/backup/User/Registry.pol.SAMBABACKUP"));
    EXPECT_EQ(kGpoMachineExtensionNames, files.at("samba/backup/gPCMachineExtensionNames.SAMBAEXT"));
    EXPECT_EQ(kGpoUserExtensionNames, files.at("samba/backup/gPCUserExtensionNames.SAMBAEXT"));
    EXPECT_EQ("[General]\r\nVersion=65537\r\n", files.at("samba/backup/GPT.INI.SAMBABACKUP"));
    EXPECT_THAT(files.at("samba/backup/GPT.INI.xml"), HasSubstr("<Key>Version</Key>\n\t\t\t<Value>65537</Value>"));
    EXPECT_THAT(files.at("samba/deploy-on-samba.sh"), HasSubstr("\nversion=65537 "));

    const std::string& backup = files.at(kBackup + "Backup.xml");
    EXPECT_THAT(backup, HasSubstr("<ID><![CDATA[{11111111-2222-4333-8444-555555555555}]]></ID>"));
    EXPECT_THAT(backup, HasSubstr("<UserVersionNumber><![CDATA[65537]]></UserVersionNumber>"
                                  "<MachineVersionNumber><![CDATA[65537]]></MachineVersionNumber>"));
    EXPECT_THAT(backup, HasSubstr(std::string("<MachineExtensionGuids><![CDATA[") + kGpoMachineExtensionNames + "]]>"));
    EXPECT_THAT(backup, HasSubstr(std::string("<UserExtensionGuids><![CDATA[") + kGpoUserExtensionNames + "]]>"));
    EXPECT_THAT(backup, HasSubstr("bkp:Path=\"%GPO_MACH_FSPATH%\\registry.pol\" "
                                  "bkp:Location=\"DomainSysvol\\GPO\\Machine\\registry.pol\""));
    EXPECT_THAT(backup, HasSubstr("bkp:Path=\"%GPO_USER_FSPATH%\\registry.pol\" "
                                  "bkp:Location=\"DomainSysvol\\GPO\\User\\registry.pol\""));
    for (const std::string& info : {files.at(kBackup + "bkupInfo.xml"), files.at("windows/manifest.xml")}) {
        EXPECT_THAT(info, HasSubstr("<GPOGuid><![CDATA[{11111111-2222-4333-8444-555555555555}]]></GPOGuid>"));
        EXPECT_THAT(info, HasSubstr("<ID><![CDATA[{AAAAAAAA-BBBB-4CCC-9DDD-EEEEEEEEEEEE}]]></ID>"));
        EXPECT_THAT(info, HasSubstr("<BackupTime><![CDATA[2026-12-08T13:30:00]]></BackupTime>"));
        EXPECT_THAT(info, HasSubstr("<GPODisplayName><![CDATA[Kestro]]></GPODisplayName>"));
    }
}

TEST(GpoExport, OneSideBringsOnlyItsOwnFilesExtensionAndVersion) {
    const auto user = Files({Dword(kHkeyCurrentUser, "Software\\P", "NoRun", 1)});
    EXPECT_EQ(0u, user.count(kBackup + "DomainSysvol/GPO/Machine/registry.pol"));
    EXPECT_EQ(0u, user.count("samba/backup/Machine/Registry.pol.xml"));
    EXPECT_EQ(0u, user.count("samba/backup/gPCMachineExtensionNames.SAMBAEXT"));
    EXPECT_EQ(1u, user.count("samba/backup/gPCUserExtensionNames.SAMBAEXT"));
    EXPECT_EQ("[General]\r\nVersion=65536\r\n", user.at("samba/backup/GPT.INI.SAMBABACKUP"));
    EXPECT_THAT(user.at(kBackup + "Backup.xml"), HasSubstr("<MachineVersionNumber><![CDATA[0]]></MachineVersionNumber>"
                                                           "<MachineExtensionGuids/><UserExtensionGuids><![CDATA["));
    EXPECT_THAT(user.at(kBackup + "Backup.xml"), Not(HasSubstr("GPO_MACH_FSPATH")));

    const auto machine = Files({Text(kHkeyClassesRoot, "CLSID\\{X}", "InfoTip", u"x")});
    EXPECT_EQ(0u, machine.count(kBackup + "DomainSysvol/GPO/User/registry.pol"));
    EXPECT_EQ(0u, machine.count("samba/backup/gPCUserExtensionNames.SAMBAEXT"));
    EXPECT_EQ("[General]\r\nVersion=1\r\n", machine.at("samba/backup/GPT.INI.SAMBABACKUP"));
    EXPECT_THAT(machine.at(kBackup + "Backup.xml"), HasSubstr("<UserVersionNumber><![CDATA[0]]></UserVersionNumber>"));
    EXPECT_THAT(machine.at(kBackup + "Backup.xml"), HasSubstr("<UserExtensionGuids/><WMIFilter/>"));
}

// The layout samba-tool gpo backup writes, element for element.
TEST(GpoExport, RegistryPolXmlListsTheFilesEntriesAsSambaToolWritesThem) {
    const auto files = Files({
        Dword(kHkeyCurrentUser, "Software\\P", "MaxRecentDocs", 0xFFFFFFFFu),
        Text(kHkeyCurrentUser, "Control Panel\\Desktop", "Wallpaper", u""),
        Text(kHkeyCurrentUser, "Control Panel\\Desktop", "Name", u"<Корзина> & \"x\""),
    });
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<PolFile num_entries=\"3\" signature=\"PReg\" version=\"1\">\n"
              "\t<Entry type=\"1\" type_name=\"REG_SZ\">\n"
              "\t\t<Key>Control Panel\\Desktop</Key>\n"
              "\t\t<ValueName>Name</ValueName>\n"
              "\t\t<Value>&lt;Корзина&gt; &amp; &quot;x&quot;</Value>\n"
              "\t</Entry>\n"
              "\t<Entry type=\"1\" type_name=\"REG_SZ\">\n"
              "\t\t<Key>Control Panel\\Desktop</Key>\n"
              "\t\t<ValueName>Wallpaper</ValueName>\n"
              "\t\t<Value/>\n"
              "\t</Entry>\n"
              "\t<Entry type=\"4\" type_name=\"REG_DWORD\">\n"
              "\t\t<Key>Software\\P</Key>\n"
              "\t\t<ValueName>MaxRecentDocs</ValueName>\n"
              "\t\t<Value>4294967295</Value>\n"
              "\t</Entry>\n"
              "</PolFile>\n",
              files.at("samba/backup/User/Registry.pol.xml"));
}

TEST(GpoExport, NamesAreEscapedInEveryFile) {
    const std::string name = "Класс ]]> & 'гости' <5>";
    const auto files = Files({Dword(kHkeyCurrentUser, "Software\\P", "NoRun", 1)}, name);
    const std::string cdata = "<![CDATA[Класс ]]]]><![CDATA[> & 'гости' <5>]]>";
    EXPECT_THAT(files.at(kBackup + "Backup.xml"), HasSubstr("<DisplayName>" + cdata + "</DisplayName>"));
    EXPECT_THAT(files.at(kBackup + "bkupInfo.xml"), HasSubstr("<GPODisplayName>" + cdata + "</GPODisplayName>"));
    EXPECT_THAT(files.at("windows/manifest.xml"), HasSubstr("<GPODisplayName>" + cdata + "</GPODisplayName>"));
    // In the shell, a quote ends the quoting, and comes back escaped.
    EXPECT_THAT(files.at("samba/deploy-on-samba.sh"), HasSubstr("\nname='Класс ]]> & '\\''гости'\\'' <5>'\n"));
}

TEST(GpoExport, RefusesWhatWouldMakeNoSoundGpo) {
    const auto refusal = [](const std::vector<RegValue>& values, const std::string& name) {
        try {
            WriteGpoExport(values, name, kStamp);
        } catch (const FormatError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    const std::vector<RegValue> one = {Dword(kHkeyCurrentUser, "Software\\P", "NoRun", 1)};
    EXPECT_THAT(refusal({}, "Kestro"), HasSubstr("empty"));
    EXPECT_THAT(refusal(one, ""), HasSubstr("name is empty"));
    EXPECT_THAT(refusal({Text(kHkeyCurrentUser, "Software\\P", "X", u"a\x01")}, "Kestro"), HasSubstr("U+0001"));
    EXPECT_THAT(refusal({RegValue{kHkeyCurrentUser, "Software\\P", "X", kRegBinary, {1}}}, "Kestro"),
                HasSubstr("only REG_SZ and REG_DWORD"));
}

}  // namespace
}  // namespace kestro
