#!/usr/bin/python3
# export gpo's files from the native build and from a Windows build under
# Wine, for the same values: the same bytes, file for file, but for the two
# identifiers and the time that make every export its own.
#
#   gpo_same_bytes.py NATIVE_SAMPLES_EXE EMULATOR WINDOWS_SAMPLES_EXE
#
# Both programs are kestro_format_samples (`write DIR` makes DIR/gpo).
import os
import re
import subprocess
import sys
import tempfile

TIME = re.compile(rb"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d")
GPO_ID = re.compile(rb"<GPOGuid><!\[CDATA\[(\{[0-9A-F-]{36}\})\]\]></GPOGuid>")


def export(command, folder):
    done = subprocess.run(command + ["write", folder], capture_output=True)
    if done.returncode != 0:
        sys.exit("FAIL: %r exited %d: %s" % (command, done.returncode, done.stderr.decode(errors="replace")))


def normalized(root):
    """Every file below root/gpo, the backup and GPO ids and the time replaced."""
    gpo = os.path.join(root, "gpo")
    backup = [d for d in os.listdir(os.path.join(gpo, "windows")) if d.startswith("{")][0]
    with open(os.path.join(gpo, "windows", backup, "bkupInfo.xml"), "rb") as f:
        gpo_id = GPO_ID.search(f.read()).group(1)
    out = {}
    for folder, _, names in os.walk(gpo):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                data = f.read()
            data = TIME.sub(b"TIME", data.replace(backup.encode(), b"{BACKUP}").replace(gpo_id, b"{GPO}"))
            out[os.path.relpath(path, gpo).replace(backup, "{BACKUP}")] = data
    return out


def main():
    native, emulator, windows = sys.argv[1], sys.argv[2], sys.argv[3]
    with tempfile.TemporaryDirectory() as tmp:
        export([native], os.path.join(tmp, "native"))
        os.mkdir(os.path.join(tmp, "windows"))
        path = subprocess.run([emulator, "winepath", "-w", os.path.join(tmp, "windows")],
                              capture_output=True, text=True).stdout.strip()
        export([emulator, windows], path)
        a, b = normalized(os.path.join(tmp, "native")), normalized(os.path.join(tmp, "windows"))
        failures = 0
        for name in sorted(set(a) | set(b)):
            if a.get(name) == b.get(name):
                print("ok: %s the same (%d bytes)" % (name, len(a[name])))
            else:
                failures += 1
                print("FAIL: %s differs: native %r, Windows %r" % (name, (a.get(name) or b"")[:200],
                                                                   (b.get(name) or b"")[:200]))
        ok = failures == 0 and len(a) >= 10
        print("gpo_same_bytes: %d files, %d failure(s)" % (len(a), failures))
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
