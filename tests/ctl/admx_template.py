#!/usr/bin/python3
"""kestroctl export admx: the template covers the settings Windows' own
templates lack, and for each of them and each state it describes exactly
the registry values that `set` writes (as `export reg` of a one-line profile
shows them); both language files define every text it names; all three
validate against Microsoft's schema when that is at hand.

Usage: admx_template.py KESTROCTL WORKDIR SCHEMA_DIR
"""
import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
# The settings of Windows' templates lack: the desktop version, CD autorun,
# last access, font smoothing, the device drivers, the Recycle Bin's texts.
EXPECTED = {"PaintDesktopVersion", "CdAutorunOff", "LastAccessUpdateOff", "FontSmoothing", "CdromOff",
            "FloppyOff", "ParallelPortOff", "UsbStorageOff", "RecycleBinName", "RecycleBinInfoTip"}
TEXT = 'Тест & <y> 100%'

ctl, work, schema = sys.argv[1:4]
failures = 0


def fail(message):
    global failures
    print("FAIL: " + message)
    failures += 1


def run(*args):
    return subprocess.run([ctl, "--lang", "en", *args], capture_output=True, text=True)


def reg_values(path):
    """{(class, key in lower case, name in lower case): (type, data)} of a .reg file, as Group Policy's classes."""
    values, key = {}, None
    with open(path, encoding="utf-16") as f:
        for line in f.read().splitlines():
            if line.startswith("["):
                root, _, rest = line[1:-1].partition("\\")
                key = {"HKEY_CURRENT_USER": ("User", rest), "HKEY_LOCAL_MACHINE": ("Machine", rest),
                       "HKEY_CLASSES_ROOT": ("Machine", "Software\\Classes\\" + rest)}[root]
            elif line.startswith('"'):
                name, _, data = line[1:].partition('"=')
                if data.startswith("dword:"):
                    value = ("dword", int(data[6:], 16))
                else:
                    value = ("sz", data[1:-1].replace('\\"', '"').replace("\\\\", "\\"))
                values[(key[0], key[1].lower(), name.lower())] = value
    return values


def export_reg(setting, state):
    profile = os.path.join(work, "profile.ini")
    with open(profile, "w", encoding="utf-8") as f:
        f.write("[Kestro]\n%s = %s\n" % (setting, state))
    out = os.path.join(work, "out.reg")
    result = run("export", "reg", out, "--profile", profile)
    if result.returncode != 0:
        fail("export reg of %s = %s: %s" % (setting, state, result.stderr))
        return {}
    return reg_values(out)


def described(policy, items):
    """The values an enabledList or disabledList describes."""
    values = {}
    for item in items.findall("p:item", NS):
        value = item.find("p:value", NS)[0]
        tag = value.tag.split("}")[1]
        data = ("dword", int(value.get("value"))) if tag == "decimal" else ("sz", value.text or "")
        key = item.get("key", policy.get("key"))
        values[(policy.get("class"), key.lower(), item.get("valueName").lower())] = data
    return values


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
out = os.path.join(work, "PolicyDefinitions")
result = run("export", "admx", out)
if result.returncode != 0:
    fail("export admx exits %d: %s" % (result.returncode, result.stderr))
    sys.exit(1)
admx = ET.parse(os.path.join(out, "kestro.admx")).getroot()
policies = {p.get("name"): p for p in admx.iter("{%s}policy" % NS["p"])}
if set(policies) != EXPECTED:
    fail("the template's policies are %s, not %s" % (sorted(policies), sorted(EXPECTED)))

for name, policy in sorted(policies.items()):
    elements = policy.find("p:elements", NS)
    if elements is not None:
        # A text: its element's value, as REG_SZ, is what set writes.
        text = elements.find("p:text", NS)
        want = {(policy.get("class"), policy.get("key").lower(), text.get("valueName").lower()): ("sz", TEXT)}
        got = export_reg(name, '"%s"' % TEXT)
        if text.get("expandable") == "true" or got != want:
            fail("%s: the template's text is %s, set writes %s" % (name, want, got))
        continue
    for state, listed in (("on", "enabledList"), ("off", "disabledList")):
        items = policy.find("p:" + listed, NS)
        want = described(policy, items) if items is not None else {}
        got = export_reg(name, state)
        if not got or want != got:
            fail("%s %s: the template describes %s, set writes %s" % (name, state, want, got))

# Every text the template names, in both languages; a Russian name for each.
names = {v[len("$(string."):-1] for e in admx.iter() for v in e.attrib.values() if v.startswith("$(string.")}
shown = {v[len("$(presentation."):-1] for e in admx.iter() for v in e.attrib.values()
         if v.startswith("$(presentation.")}
for language in ("en-US", "ru-RU"):
    adml = ET.parse(os.path.join(out, language, "kestro.adml")).getroot()
    strings = {s.get("id"): s.text or "" for s in adml.iter("{%s}string" % NS["p"])}
    presentations = {p.get("id") for p in adml.iter("{%s}presentation" % NS["p"])}
    if names - set(strings):
        fail("%s lacks the strings %s" % (language, sorted(names - set(strings))))
    if shown - presentations:
        fail("%s lacks the presentations %s" % (language, sorted(shown - presentations)))
    for name in EXPECTED & set(strings):
        russian = any("\u0400" <= c <= "\u04ff" for c in strings[name] + strings.get(name + "_Help", ""))
        if russian != (language == "ru-RU"):
            fail("%s: %s's name and explanation %s Russian" % (language, name, "are not" if not russian else "are"))

xsd = os.path.join(schema, "PolicyDefinitionFiles.xsd")
if not os.path.exists(xsd):
    print("SKIPPED: no ADMX schema at %s; the templates were not validated" % schema)
else:
    import xmlschema
    definitions = xmlschema.XMLSchema(xsd)
    for name in ("kestro.admx", "en-US/kestro.adml", "ru-RU/kestro.adml"):
        errors = list(definitions.iter_errors(os.path.join(out, name)))
        if errors:
            fail("%s does not validate: %s" % (name, errors[0]))
    # The check itself: a policy without its class is refused.
    broken = os.path.join(work, "broken.admx")
    with open(os.path.join(out, "kestro.admx"), encoding="utf-8") as f:
        text = f.read()
    with open(broken, "w", encoding="utf-8") as f:
        f.write(text.replace(' class="Machine"', "", 1))
    if definitions.is_valid(broken):
        fail("the schema accepts a policy without its class")
    print("ok: the templates validate against the schema")

print("ok: %d policies checked" % len(policies) if not failures else "%d failures" % failures)
sys.exit(1 if failures else 0)
