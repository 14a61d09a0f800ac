#!/usr/bin/python3
# What the Russian guide quotes of kestroctl's Russian output is what the
# real kestroctl says, in a Russian locale, on the hives of an offline
# Windows set up as the examples say: the `list` lines, the refusal of a
# wrong value, the --dry-run of the guide's own profile and the export of
# the templates (its C:\admx paths read as the folder used here).
#
#   guide_quotes.py GUIDE KESTROCTL EMPTY_HIVE_TOOL WORKDIR
import os
import shutil
import subprocess
import sys

guide_path, kestroctl, empty_hive, work = sys.argv[1:5]
failures = 0


def fail(message):
    global failures
    failures += 1
    print("FAIL: " + message)


with open(guide_path, "rb") as f:
    guide = f.read().decode("utf-8-sig").replace("\r\n", "\n").split("\n")


def quoted(prompt):
    """The lines the guide shows after its line '  C:\\>PROMPT', up to a blank
    line, a '  ...' or the next prompt, without their indent."""
    start = [i for i, line in enumerate(guide) if line == "  C:\\>" + prompt]
    if len(start) != 1:
        fail("the guide shows '%s' %d times, not once" % (prompt, len(start)))
        return []
    lines = []
    for line in guide[start[0] + 1:]:
        if not line.strip() or line == "  ..." or line.startswith("  C:\\>"):
            break
        lines.append(line[2:])
    if not lines:
        fail("the guide shows no output of '%s'" % prompt)
    return lines


def profile_in_guide():
    """The profile the guide gives as its example: the indented lines from
    its '[Kestro]' section's comment to the first blank line."""
    at = guide.index("  [Kestro]")
    lines = []
    for line in guide[at - 1:]:
        if not line.strip():
            break
        lines.append(line[2:])
    return "\n".join(lines) + "\n"


shutil.rmtree(work, ignore_errors=True)
windir = os.path.join(work, "win", "WINDOWS")
user = os.path.join(work, "win", "Documents and Settings", "john")
os.makedirs(os.path.join(windir, "system32", "config"))
os.makedirs(user)
config = os.path.join(windir, "system32", "config")
subprocess.run([empty_hive, os.path.join(config, "system"), os.path.join(config, "software"),
                os.path.join(config, "SAM"), os.path.join(user, "NTUSER.DAT")], check=True)

environment = {k: v for k, v in os.environ.items() if k not in ("LANGUAGE", "LC_ALL", "LC_MESSAGES")}
environment["LANG"] = "ru_RU.UTF-8"


def run(*arguments, offline=True):
    command = [kestroctl] + (["--offline", windir] if offline else []) + list(arguments)
    done = subprocess.run(command, capture_output=True, env=environment)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def expect_lines(label, wanted, output):
    # The WINDOWS column's en dash ("XP\u20137"): kestroctl.exe writes it as
    # "-" in a console code page (ctl/main.cpp), and so does XP's console
    # with its raster font; the guide shows what XP's user sees.
    have = output.replace("\u2013", "-").rstrip("\n").split("\n")
    for line in wanted:
        if line not in have:
            fail("%s: the guide's line is not in kestroctl's output:\n  %s\nkestroctl said:\n%s" % (label, line, output))


if "Запуск:" not in run("--help", offline=False)[1]:
    sys.exit("FAIL: kestroctl does not speak Russian in ru_RU.UTF-8 (no such locale? scripts/install-deps makes it)")

# The guide's list: NoRun on, MaxRecentDocs 15, the rest untouched.
for name, value in (("NoRun", "on"), ("MaxRecentDocs", "15")):
    code, _, err = run("set", name, value)
    if code != 0:
        fail("set %s %s exited %d: %s" % (name, value, code, err))
code, out, err = run("list")
expect_lines("list", quoted("kestroctl list"), out)

code, out, err = run("get", "NoRun")
expect_lines("get", quoted("kestroctl get NoRun"), out)

code, out, err = run("set", "NoRun", "может")
if code != 2:
    fail("set NoRun может exited %d, not 2" % code)
expect_lines("a wrong value", quoted("kestroctl set NoRun может"), err)

# Its profile, tried where NoRun and MaxRecentDocs already are as it says.
profile = os.path.join(work, "класс.ini")
with open(profile, "w", encoding="utf-8") as f:
    f.write(profile_in_guide())
code, out, err = run("apply", profile, "--dry-run")
if code != 0:
    fail("apply --dry-run of the guide's profile exited %d: %s" % (code, err))
expect_lines("apply --dry-run", quoted("kestroctl apply класс.ini --dry-run"), out)

admx = os.path.join(work, "admx")
code, out, err = run("export", "admx", admx, offline=False)
if code != 0:
    fail("export admx exited %d: %s" % (code, err))
wanted = [line.replace("C:\\admx", admx).replace("\\", "/") for line in quoted("kestroctl export admx C:\\admx")]
expect_lines("export admx", wanted, out)

print("guide_quotes: %d failure(s)" % failures)
sys.exit(1 if failures else 0)
