#!/usr/bin/env python3
"""Checks the relative links of README.md and docs/**/*.md under ROOT.

Every link and image that is not a web address must name a file or folder
that exists, and an anchor (#...) must name a heading of its page as the
repository's web view spells it; every docs page must be linked from the
README. Links inside code (fenced blocks, `inline`) are text, not links.
Prints each broken link as FILE:LINE: ..., and exits 1 if there is any.

Usage: links.py ROOT
"""
import os
import re
import sys

LINK = re.compile(r'!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\)')
REFERENCE = re.compile(r'^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+.*)?$')
HEADING = re.compile(r'^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$')
EXTERNAL = re.compile(r'^[a-zA-Z][a-zA-Z0-9+.-]*:')


def prose_lines(text, inline_code=False):
    """The page's lines with code blocks, and inline code unless asked to
    keep it, blanked out."""
    fence = None
    for number, line in enumerate(text.split('\n'), 1):
        stripped = line.lstrip()
        marker = re.match(r'(`{3,}|~{3,})', stripped)
        if fence:
            if marker and stripped.startswith(fence):
                fence = None
            yield number, ''
            continue
        if marker:
            fence = marker.group(1)
            yield number, ''
            continue
        yield number, line if inline_code else re.sub(r'(`+)(?:(?!\1).)+?\1', '', line)


def slug(heading):
    """A heading's anchor as the web view makes it: lower case, letters,
    digits, "-" and "_" kept, spaces made hyphens, the rest dropped."""
    text = re.sub(r'`([^`]*)`', r'\1', heading)
    text = re.sub(r'!?\[([^\]]*)\]\([^)]*\)', r'\1', text)
    return re.sub(r'[^\w\- ]', '', text.lower()).replace(' ', '-')


def anchors(path, cache={}):
    if path not in cache:
        found, seen = set(), {}
        with open(path, encoding='utf-8') as page:
            for _, line in prose_lines(page.read(), inline_code=True):
                m = HEADING.match(line)
                if not m:
                    continue
                base = slug(m.group(2))
                n = seen.get(base, 0)
                seen[base] = n + 1
                found.add(base if n == 0 else f'{base}-{n}')
        cache[path] = found
    return cache[path]


def pages(root):
    yield os.path.join(root, 'README.md')
    for folder, _, files in sorted(os.walk(os.path.join(root, 'docs'))):
        for name in sorted(files):
            if name.endswith('.md'):
                yield os.path.join(folder, name)


def main(root):
    root = os.path.abspath(root)
    broken = []
    linked_from_readme = set()
    readme = os.path.join(root, 'README.md')
    if not os.path.isfile(readme):
        print(f'{readme}: missing')
        return 1
    checked = 0
    for page in pages(root):
        with open(page, encoding='utf-8') as f:
            text = f.read()
        where = os.path.relpath(page, root)
        for number, line in prose_lines(text):
            targets = [m.group(1) for m in LINK.finditer(line)]
            m = REFERENCE.match(line)
            if m:
                targets.append(m.group(1))
            for target in targets:
                if EXTERNAL.match(target):
                    continue
                checked += 1
                file_part, _, anchor = target.partition('#')
                resolved = os.path.normpath(os.path.join(os.path.dirname(page), file_part)) if file_part else page
                if not os.path.exists(resolved):
                    broken.append(f'{where}:{number}: {target}: no such file')
                    continue
                if page == readme:
                    linked_from_readme.add(resolved)
                if anchor and resolved.endswith('.md') and os.path.isfile(resolved):
                    if anchor not in anchors(resolved):
                        broken.append(f'{where}:{number}: {target}: no heading #{anchor} in '
                                      f'{os.path.relpath(resolved, root)}')
    for page in pages(root):
        if page != readme and page not in linked_from_readme:
            broken.append(f'{os.path.relpath(page, root)}: not linked from README.md')
    for line in broken:
        print(line)
    print(f'links: {checked} relative links checked, {len(broken)} broken')
    return 1 if broken else 0


if __name__ == '__main__':
    if len(sys.argv) != 2:
        print(__doc__.strip().split('\n')[-1], file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
