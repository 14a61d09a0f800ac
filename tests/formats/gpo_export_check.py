#!/usr/bin/python3
# `kestroctl export gpo` checked as far as Linux can, with Samba's own code
# where Samba reads the files:
# - every XML file is well formed, and the names and identifiers agree
#   between manifest.xml, bkupInfo.xml, Backup.xml and the backup's folder;
# - Samba's Registry.pol parser reads both registry.pol files of the
#   console's backup as exactly the expected values;
# - Samba's own backup parsers (what `samba-tool gpo restore` runs) turn
#   Registry.pol.xml back into the export's registry.pol bytes, and
#   GPT.INI.xml into the version the deploy script sets;
# - the extension names are exact, and the deploy script is sound shell.
#
#   gpo_export_check.py DIR
#
# DIR is what `kestro_format_samples write` made: expected.tsv, gpo-name.txt
# and gpo/ (the export). Needs Debian's python3-samba (/usr/bin/python3).
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

from samba import ndr
from samba.dcerpc import preg
from samba.gp_parse.gp_ini import GPTIniParser
from samba.gp_parse.gp_pol import GPPolParser

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import samba_preg_check  # noqa: E402
from samba_preg_check import check, expected_entries, samba_view  # noqa: E402

MACHINE_NAMES = "[{35378EAC-683F-11D2-A89A-00C04FBBCFA2}{0F6B957D-509E-11D1-A7CC-0000F87571E3}]"
USER_NAMES = "[{35378EAC-683F-11D2-A89A-00C04FBBCFA2}{0F6B957E-509E-11D1-A7CC-0000F87571E3}]"
MANIFEST_NS = "{http://www.microsoft.com/GroupPolicy/GPOOperations/Manifest}"
BACKUP_NS = "{http://www.microsoft.com/GroupPolicy/GPOOperations}"
GUID = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\}$")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def parse_all_xml(root):
    """Every .xml file below root, parsed; a file that does not parse fails."""
    parsed = {}
    for folder, _, names in os.walk(root):
        for name in names:
            if name.endswith(".xml"):
                path = os.path.join(folder, name)
                try:
                    parsed[os.path.relpath(path, root)] = ET.parse(path).getroot()
                except ET.ParseError as e:
                    check("%s is well formed" % path, False, str(e))
    check("%d XML files are well formed" % len(parsed), len(parsed) >= 5)
    return parsed


def check_windows(gpo, xml, name):
    backups = [d for d in os.listdir(os.path.join(gpo, "windows")) if d != "manifest.xml"]
    check("windows/ holds manifest.xml and one backup folder", len(backups) == 1, repr(backups))
    folder = backups[0]
    check("the backup folder is a GUID", GUID.match(folder) is not None, folder)
    info = xml[os.path.join("windows", folder, "bkupInfo.xml")]
    manifest = xml[os.path.join("windows", "manifest.xml")]
    backup = xml[os.path.join("windows", folder, "Backup.xml")]
    insts = manifest.findall(MANIFEST_NS + "BackupInst")
    check("manifest.xml lists one backup", manifest.tag == MANIFEST_NS + "Backups" and len(insts) == 1)
    core = backup.find("%sGroupPolicyObject/%sGroupPolicyCoreSettings" % (BACKUP_NS, BACKUP_NS))
    gpo_id = info.findtext(MANIFEST_NS + "GPOGuid")
    check("the GPO id is a GUID, not the backup's", GUID.match(gpo_id or "") is not None and gpo_id != folder, gpo_id)
    for label, inst in (("bkupInfo.xml", info), ("manifest.xml", insts[0])):
        check("%s: backup id is the folder's" % label, inst.findtext(MANIFEST_NS + "ID") == folder)
        check("%s: GPO id agrees" % label, inst.findtext(MANIFEST_NS + "GPOGuid") == gpo_id)
        check("%s: display name" % label, inst.findtext(MANIFEST_NS + "GPODisplayName") == name,
              repr(inst.findtext(MANIFEST_NS + "GPODisplayName")))
    check("Backup.xml: GPO id agrees", core.findtext(BACKUP_NS + "ID") == gpo_id)
    check("Backup.xml: display name", core.findtext(BACKUP_NS + "DisplayName") == name)
    check("Backup.xml: machine extension names",
          core.findtext(BACKUP_NS + "MachineExtensionGuids") == MACHINE_NAMES)
    check("Backup.xml: user extension names", core.findtext(BACKUP_NS + "UserExtensionGuids") == USER_NAMES)
    for side in ("User", "Machine"):
        check("Backup.xml: %s version 65537" % side, core.findtext(BACKUP_NS + side + "VersionNumber") == "65537")
    locations = [f.get(BACKUP_NS + "Location") for f in backup.iter(BACKUP_NS + "FSObjectFile")
                 if f.get(BACKUP_NS + "Location")]
    check("Backup.xml names both registry.pol files",
          sorted(locations) == ["DomainSysvol\\GPO\\Machine\\registry.pol", "DomainSysvol\\GPO\\User\\registry.pol"],
          repr(locations))
    for location in locations:
        check("%s is in the backup" % location,
              os.path.isfile(os.path.join(gpo, "windows", folder, *location.split("\\"))))
    return os.path.join(gpo, "windows", folder, "DomainSysvol", "GPO")


def main():
    folder = sys.argv[1]
    gpo = os.path.join(folder, "gpo")
    with open(os.path.join(folder, "gpo-name.txt"), encoding="utf-8") as f:
        name = f.read()
    expected_file = os.path.join(folder, "expected.tsv")
    xml = parse_all_xml(gpo)
    sysvol = check_windows(gpo, xml, name)
    samba = os.path.join(gpo, "samba", "backup")
    for side in ("User", "Machine"):
        pol = read(os.path.join(sysvol, side, "registry.pol"))
        check("%s: the console backup's registry.pol is the export's Registry.pol" % side,
              pol == read(os.path.join(folder, side, "Registry.pol")))
        check("%s: header PReg, version 1" % side, pol[:8] == b"PReg\x01\x00\x00\x00")
        parsed = ndr.ndr_unpack(preg.file, pol)
        got = [(e.keyname, e.valuename, e.type, e.size, e.data) for e in parsed.entries]
        want = [samba_view(e) for e in expected_entries(expected_file, side)]
        check("%s: Samba reads the export's values" % side, got == want and len(want) > 0,
              "\n got  %r\n want %r" % (got, want))

        root = xml[os.path.join("samba", "backup", side, "Registry.pol.xml")]
        entries = root.findall("Entry")
        check("%s: num_entries is the number of entries" % side,
              root.get("num_entries") == str(len(entries)) == str(len(want)), root.get("num_entries"))
        parser = GPPolParser()
        parser.load_xml(root)
        out = os.path.join(folder, "restored-%s.pol" % side)
        parser.write_binary(out)
        check("%s: Samba's restore parser makes Registry.pol.xml into the same bytes" % side, read(out) == pol)
        check("%s: the raw copy is the same bytes" % side,
              read(os.path.join(samba, side, "Registry.pol.SAMBABACKUP")) == pol)

    check("machine extension names", read(os.path.join(samba, "gPCMachineExtensionNames.SAMBAEXT")) ==
          MACHINE_NAMES.encode())
    check("user extension names", read(os.path.join(samba, "gPCUserExtensionNames.SAMBAEXT")) == USER_NAMES.encode())
    ini = GPTIniParser()
    ini.load_xml(xml[os.path.join("samba", "backup", "GPT.INI.xml")])
    version = ini.ini_conf.get("General", "Version")
    check("GPT.INI.xml: Version 65537", version == "65537", version)
    script = os.path.join(gpo, "samba", "deploy-on-samba.sh")
    with open(script, encoding="utf-8") as f:
        text = f.read()
    check("the deploy script sets the same version", "\nversion=%s " % version in text)
    syntax = subprocess.run(["bash", "-n", script], capture_output=True, text=True)
    check("the deploy script is sound bash", syntax.returncode == 0, syntax.stderr)
    failures = samba_preg_check.failures
    print("gpo_export_check: %d failure(s)" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
