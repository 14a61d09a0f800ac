#!/usr/bin/python3
# Our Registry.pol files held against Samba's own parser, which is what a
# Samba domain controller's tools use. Both policy files must give exactly
# the expected keys, names, types and data. Malformed variants must be
# refused by our reader (exit code 2, the byte offset in its message), and by
# Samba too wherever Samba looks: it does not check the header, and it reads
# the delimiters without comparing them, which is why ours does both.
#
#   samba_preg_check.py READER DIR
#
# READER is a command that reads one file: READER read-pol FILE user|machine,
# printing "root<TAB>key<TAB>name<TAB>type<TAB>hexdata" lines. DIR holds
# User/Registry.pol, Machine/Registry.pol and expected.tsv (lines tagged
# User or Machine, in file order). Needs Debian's python3-samba, which only
# /usr/bin/python3 loads.
import os
import re
import struct
import subprocess
import sys
import tempfile

from samba import ndr
from samba.dcerpc import preg

REG_SZ, REG_DWORD = 1, 4
failures = 0


def check(label, ok, detail=""):
    global failures
    if ok:
        print("ok: " + label)
    else:
        failures += 1
        print("FAIL: %s %s" % (label, detail))


def expected_entries(path, scope):
    out = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            tag, root, key, name, typ, data = line.rstrip("\n").split("\t")
            if tag == scope:
                out.append((root, key, name, int(typ), bytes.fromhex(data)))
    return out


def samba_view(entry):
    """An expected entry as Samba's parser presents it."""
    root, key, name, typ, data = entry
    if typ == REG_DWORD:
        value = struct.unpack("<I", data)[0]
    elif typ == REG_SZ:
        value = data.decode("utf-16-le")
        assert value.endswith("\0")
        value = value[:-1]
    else:
        raise ValueError("type %d" % typ)
    return (key, name, typ, len(data), value)


def read_ours(reader, path, scope):
    return subprocess.run(reader + ["read-pol", path, scope.lower()], capture_output=True, text=True)


def parse_ours(stdout):
    out = []
    for line in stdout.splitlines():
        root, key, name, typ, data = line.split("\t")
        out.append((root, key, name, int(typ), bytes.fromhex(data)))
    return out


def main():
    reader = [sys.argv[1]]
    folder = sys.argv[2]
    expected_file = os.path.join(folder, "expected.tsv")
    good = {}
    for scope in ("User", "Machine"):
        path = os.path.join(folder, scope, "Registry.pol")
        with open(path, "rb") as f:
            data = f.read()
        good[scope] = data
        expected = expected_entries(expected_file, scope)
        check("%s: there is something to compare" % scope, len(expected) > 0)
        check("%s: header PReg, version 1" % scope, data[:8] == b"PReg\x01\x00\x00\x00", repr(data[:8]))
        try:
            parsed = ndr.ndr_unpack(preg.file, data)
        except RuntimeError as e:
            check("%s: Samba parses it" % scope, False, str(e))
            continue
        got = [(e.keyname, e.valuename, e.type, e.size, e.data) for e in parsed.entries]
        want = [samba_view(e) for e in expected]
        check("%s: Samba reads the expected entries" % scope, got == want, "\n got  %r\n want %r" % (got, want))
        check("%s: Samba's entry count" % scope, parsed.num_entries == len(expected), str(parsed.num_entries))
        ours = read_ours(reader, path, scope)
        check("%s: our reader reads it" % scope, ours.returncode == 0, ours.stderr)
        check("%s: our reader agrees" % scope, parse_ours(ours.stdout) == expected, ours.stdout)

    # Malformed variants of the machine file: Samba and our reader refuse each.
    data = good["Machine"]
    first = expected_entries(expected_file, "Machine")[0]
    key, name = first[1], first[2]
    size_at = 8 + 2 + 2 * (len(key) + 1) + 2 + 2 * (len(name) + 1) + 2 + 4 + 2
    first_end = size_at + 4 + 2 + len(first[4]) + 2
    ascii_entry = b"[" + key.encode() + b"\0;" + name.encode() + b"\0;" + struct.pack("<I", first[3]) + b";" + \
        struct.pack("<I", len(first[4])) + b";" + first[4] + b"]"
    wrong_size = bytearray(data)
    struct.pack_into("<I", wrong_size, size_at, len(first[4]) + 2)
    no_close = bytearray(data)
    no_close[first_end - 2:first_end] = ")".encode("utf-16-le")
    semicolon = bytearray(data)
    semicolon[size_at - 2:size_at] = ",".encode("utf-16-le")
    last_size = bytearray(data)
    struct.pack_into("<I", last_size, len(data) - 2 - 4 - 2 - 4, 8)
    # Both parsers must refuse these.
    refused_by_both = {
        "cut inside the first key": data[:8 + 7],
        "cut inside the first entry's data": data[:first_end - 3],
        "cut one byte short": data[:-1],
        "cut before the last ]": data[:-2],
        "the last size past the end": bytes(last_size),
        "ASCII delimiters": data[:8] + ascii_entry,
        "two bytes after the last entry": data + b"\0\0",
    }
    # Samba reads delimiters without looking at them, so these either parse
    # into other entries than were written or parse unchanged; ours refuses.
    misread_by_samba = {
        "the first size two bytes too large": bytes(wrong_size),
        "] replaced by )": bytes(no_close),
        "; replaced by ,": bytes(semicolon),
    }
    expected_view = [samba_view(e) for e in expected_entries(expected_file, "Machine")]
    with tempfile.TemporaryDirectory() as tmp:
        for label, bad in list(refused_by_both.items()) + list(misread_by_samba.items()):
            path = os.path.join(tmp, "bad.pol")
            with open(path, "wb") as f:
                f.write(bad)
            try:
                parsed = ndr.ndr_unpack(preg.file, bad)
                got = [(e.keyname, e.valuename, e.type, e.size, e.data) for e in parsed.entries]
                samba = "accepted, " + ("unchanged" if got == expected_view else "other entries")
            except RuntimeError as e:
                samba = "refused " + str(e)
            if label in refused_by_both:
                check("%s: Samba refuses it" % label, samba.startswith("refused"), samba)
            else:
                print("note: %s: Samba %s" % (label, samba))
            ours = read_ours(reader, path, "Machine")
            check("%s: our reader refuses it with an offset" % label,
                  ours.returncode == 2 and re.search(r": offset \d+: ", ours.stderr) is not None,
                  "exit %d: %s" % (ours.returncode, ours.stderr))
        # A file with no entries (a profile without machine values gives one).
        path = os.path.join(tmp, "empty.pol")
        with open(path, "wb") as f:
            f.write(data[:8])
        check("header only: Samba reads no entry", ndr.ndr_unpack(preg.file, data[:8]).num_entries == 0)
        ours = read_ours(reader, path, "Machine")
        check("header only: our reader reads no entry", ours.returncode == 0 and ours.stdout == "", ours.stderr)
        # The header Samba does not look at: ours must.
        for label, bad in {"signature PRex": b"PRex" + data[4:], "version 2": data[:4] + b"\x02" + data[5:]}.items():
            path = os.path.join(tmp, "bad.pol")
            with open(path, "wb") as f:
                f.write(bad)
            ours = read_ours(reader, path, "Machine")
            check("%s: our reader refuses it" % label,
                  ours.returncode == 2 and re.search(r": offset [04]: ", ours.stderr) is not None,
                  "exit %d: %s" % (ours.returncode, ours.stderr))

    print("samba_preg_check: %d failure(s)" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
