#!/usr/bin/env python3
"""The folders are the layers: checks the includes of the product's sources.

core/ includes nothing of ours but core/; registry/ adds core/; offline/
adds registry/. None of the three includes the folders above them
(settings/, formats/, ctl/, ui/, form/, app/). Within each folder of NO_CIRCLES
the files (a .h and its .cpp count as one) include each other in no circle.

Usage: layering.py ROOT       checks the tree at ROOT; exit 1 naming each fault
       layering.py --self-test checks that faults are found, on trees it makes
"""
import os
import re
import sys
import tempfile

# What each lower folder may include; any other folder of ours is a fault.
ALLOWED = {
    "core": {"core"},
    "registry": {"core", "registry"},
    "offline": {"core", "registry", "offline"},
}
# Every folder of ours, to know an include is ours.
FOLDERS = ["core", "registry", "offline", "runtime", "settings", "formats", "ctl", "ui", "form", "app"]
# The folders whose files must not include each other in a circle.
NO_CIRCLES = ["core", "registry", "offline", "runtime", "settings", "formats", "ctl", "ui", "form", "app"]
SOURCE = (".h", ".cpp", ".hpp", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def includes(root):
    """{folder: {file: [included path, ...]}} for the product's folders."""
    found = {}
    for folder in FOLDERS:
        top = os.path.join(root, folder)
        if not os.path.isdir(top):
            continue
        for base, _, names in os.walk(top):
            for name in sorted(names):
                if not name.endswith(SOURCE):
                    continue
                path = os.path.join(base, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                found.setdefault(folder, {})[rel] = INCLUDE.findall(text)
    return found


def module(path):
    """A .h and its .cpp are one file of the design."""
    return os.path.splitext(path)[0]


def direction_faults(found):
    faults = []
    for folder, allowed in ALLOWED.items():
        for path, targets in sorted(found.get(folder, {}).items()):
            for target in targets:
                top = target.split("/", 1)[0]
                if "/" in target and top in FOLDERS and top not in allowed:
                    faults.append(f"{path} includes {target}: {folder}/ may include only "
                                  + ", ".join(sorted(allowed)))
    return faults


def circle_faults(found):
    faults = []
    for folder, files in sorted(found.items()):
        if folder not in NO_CIRCLES:
            continue
        graph = {}
        for path, targets in files.items():
            edges = graph.setdefault(module(path), set())
            for target in targets:
                if target.startswith(folder + "/") and module(target) != module(path):
                    edges.add(module(target))
        # Depth-first search; a grey node met again closes a circle.
        state, stack = {}, []

        def visit(node):
            state[node] = "grey"
            stack.append(node)
            for nxt in sorted(graph.get(node, ())):
                if state.get(nxt) == "grey":
                    circle = stack[stack.index(nxt):] + [nxt]
                    faults.append("include circle: " + " -> ".join(circle))
                elif nxt not in state:
                    visit(nxt)
            stack.pop()
            state[node] = "black"

        for node in sorted(graph):
            if node not in state:
                visit(node)
    return faults


def check(root):
    found = includes(root)
    return direction_faults(found) + circle_faults(found)


def self_test():
    """Each rule must be able to fail: a tree breaking it is caught."""
    cases = {
        "core includes registry": {"core/a.h": '#include "registry/b.h"\n', "registry/b.h": ""},
        "registry includes offline": {"registry/a.cpp": '#include "offline/b.h"\n', "offline/b.h": ""},
        "offline includes ctl": {"offline/a.cpp": '#include "ctl/b.h"\n', "ctl/b.h": ""},
        "core includes settings": {"core/a.cpp": '#include "settings/b.h"\n', "settings/b.h": ""},
        "a circle in offline": {"offline/a.cpp": '#include "offline/b.h"\n', "offline/b.h": "",
                                "offline/b.cpp": '#include "offline/c.h"\n', "offline/c.h": "",
                                "offline/c.cpp": '#include "offline/a.h"\n', "offline/a.h": ""},
    }
    good = {"core/a.h": "", "registry/b.h": '#include "core/a.h"\n', "offline/c.cpp": '#include "registry/b.h"\n',
            "offline/c.h": "", "offline/d.cpp": '#include "offline/c.h"\n', "ctl/e.cpp": '#include "offline/c.h"\n'}
    ok = True
    for name, files in list(cases.items()) + [("a tree that keeps the rules", good)]:
        with tempfile.TemporaryDirectory() as root:
            for path, text in files.items():
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as f:
                    f.write(text)
            faults = check(root)
        expected = files is not good
        if bool(faults) != expected:
            print(f"self-test: {name}: {'not caught' if expected else 'wrongly faulted: ' + '; '.join(faults)}")
            ok = False
    print("self-test: every rule can fail" if ok else "self-test FAILED")
    return 0 if ok else 1


def main(argv):
    if len(argv) == 2 and argv[1] == "--self-test":
        return self_test()
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    faults = check(argv[1])
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} layering faults")
        return 1
    print("the includes keep the layers, and no folder includes itself in a circle")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
