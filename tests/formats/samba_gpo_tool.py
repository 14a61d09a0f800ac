#!/usr/bin/python3
# The two steps of the domain test that need Samba's Python modules (only
# /usr/bin/python3 loads them):
#
#   samba_gpo_tool.py bump SMB_CONF PASSWORD GUID VERSION
#       sets the GPO's versionNumber and both client-side extension lists,
#       which `samba-tool gpo create` leaves empty;
#   samba_gpo_tool.py check-backup BACKUP_DIR EXPECTED_TSV
#       checks that `samba-tool gpo backup` shows every expected entry, and
#       nothing else, in its Registry.pol.xml files;
#   samba_gpo_tool.py show SMB_CONF PASSWORD GUID
#       prints the GPO's versionNumber and extension names, one
#       "attribute<TAB>value" line each, as the directory holds them.
import os
import struct
import sys
import xml.etree.ElementTree as ET

# The registry client-side extension and the Group Policy editor's tool
# extension (machine and user variants).
REGISTRY_CSE = "{35378EAC-683F-11D2-A89A-00C04FBBCFA2}"
MACHINE_TOOL = "{0F6B957D-509E-11D1-A7CC-0000F87571E3}"
USER_TOOL = "{0F6B957E-509E-11D1-A7CC-0000F87571E3}"


def connect(conf, password):
    from samba.auth import system_session
    from samba.credentials import Credentials
    from samba.param import LoadParm
    from samba.samdb import SamDB

    lp = LoadParm()
    lp.load(conf)
    creds = Credentials()
    creds.guess(lp)
    creds.set_username("Administrator")
    creds.set_password(password)
    return SamDB(url="ldap://127.0.0.1", session_info=system_session(), credentials=creds, lp=lp)


SHOWN = ["displayName", "versionNumber", "gPCMachineExtensionNames", "gPCUserExtensionNames"]


def show(conf, password, guid):
    import ldb
    db = connect(conf, password)
    found = db.search(base=db.get_default_basedn(), scope=ldb.SCOPE_SUBTREE,
                      expression="(&(objectClass=groupPolicyContainer)(cn=%s))" % ldb.binary_encode(guid),
                      attrs=SHOWN)
    if len(found) != 1:
        print("FAIL: GPO %s found %d times" % (guid, len(found)))
        return 1
    for attr in SHOWN:
        print("%s\t%s" % (attr, found[0][attr][0].decode() if attr in found[0] else ""))
    return 0


def bump(conf, password, guid, version):
    import ldb
    db = connect(conf, password)
    found = db.search(base=db.get_default_basedn(), scope=ldb.SCOPE_SUBTREE,
                      expression="(&(objectClass=groupPolicyContainer)(cn=%s))" % guid,
                      attrs=["versionNumber"])
    if len(found) != 1:
        print("FAIL: GPO %s found %d times" % (guid, len(found)))
        return 1
    msg = ldb.Message()
    msg.dn = found[0].dn
    msg["versionNumber"] = ldb.MessageElement(str(version), ldb.FLAG_MOD_REPLACE, "versionNumber")
    msg["gPCMachineExtensionNames"] = ldb.MessageElement(
        "[%s%s]" % (REGISTRY_CSE, MACHINE_TOOL), ldb.FLAG_MOD_REPLACE, "gPCMachineExtensionNames")
    msg["gPCUserExtensionNames"] = ldb.MessageElement(
        "[%s%s]" % (REGISTRY_CSE, USER_TOOL), ldb.FLAG_MOD_REPLACE, "gPCUserExtensionNames")
    db.modify(msg)
    back = db.search(base=found[0].dn, scope=ldb.SCOPE_BASE,
                     attrs=["versionNumber", "gPCMachineExtensionNames", "gPCUserExtensionNames"])[0]
    ok = (str(back["versionNumber"][0]) == str(version)
          and REGISTRY_CSE in str(back["gPCMachineExtensionNames"][0])
          and REGISTRY_CSE in str(back["gPCUserExtensionNames"][0]))
    print(("ok" if ok else "FAIL") + ": versionNumber %s and extension names read back" % back["versionNumber"][0])
    return 0 if ok else 1


def expected_entries(path):
    """(scope, key, name, type, value as gpo backup writes it) per expected policy entry."""
    out = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            tag, root, key, name, typ, data = line.rstrip("\n").split("\t")
            if tag not in ("User", "Machine"):
                continue
            raw = bytes.fromhex(data)
            typ = int(typ)
            if typ == 4:
                value = str(struct.unpack("<I", raw)[0])
            else:
                value = raw.decode("utf-16-le")[:-1]
            out.append((tag, key, name, typ, value))
    return out


def check_backup(folder, expected_path):
    got = []
    files = 0
    for dirpath, _, names in os.walk(folder):
        for n in names:
            if n.lower() != "registry.pol.xml":
                continue
            files += 1
            scope = "User" if os.path.basename(dirpath).lower() == "user" else "Machine"
            for entry in ET.parse(os.path.join(dirpath, n)).getroot().iter("Entry"):
                got.append((scope, entry.findtext("Key"), entry.findtext("ValueName"),
                            int(entry.get("type")), entry.findtext("Value") or ""))
    want = expected_entries(expected_path)
    ok = files == 2 and sorted(got) == sorted(want) and len(want) > 0
    if ok:
        print("ok: gpo backup shows the %d expected entries in 2 Registry.pol.xml files" % len(want))
    else:
        print("FAIL: gpo backup: %d Registry.pol.xml files\n got  %r\n want %r" % (files, sorted(got), sorted(want)))
    return 0 if ok else 1


if __name__ == "__main__":
    if len(sys.argv) == 6 and sys.argv[1] == "bump":
        sys.exit(bump(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])))
    if len(sys.argv) == 4 and sys.argv[1] == "check-backup":
        sys.exit(check_backup(sys.argv[2], sys.argv[3]))
    if len(sys.argv) == 5 and sys.argv[1] == "show":
        sys.exit(show(sys.argv[2], sys.argv[3], sys.argv[4]))
    print("usage: samba_gpo_tool.py show SMB_CONF PASSWORD GUID | bump SMB_CONF PASSWORD GUID VERSION | check-backup DIR EXPECTED_TSV")
    sys.exit(1)
