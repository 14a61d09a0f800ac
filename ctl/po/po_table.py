#!/usr/bin/env python3
"""ru.po as a C++ table for the Windows builds, which carry no gettext:
{english, russian} pairs sorted by the English text's bytes, for a binary
search (ctl/messages.cpp). Entries without a translation, fuzzy ones and
obsolete ones are left out, as gettext leaves them out of a .mo.

    po_table.py RU_PO OUTPUT_INC
"""
import sys


def unquote(line):
    """The text of one "..." piece of a .po file, its C escapes undone."""
    body = line.strip()
    if len(body) < 2 or body[0] != '"' or body[-1] != '"':
        raise ValueError("not a quoted string: " + line)
    body = body[1:-1]
    out, i = bytearray(), 0
    escapes = {'n': b'\n', 't': b'\t', '"': b'"', '\\': b'\\', 'r': b'\r', 'a': b'\a', 'b': b'\b', 'f': b'\f', 'v': b'\v'}
    while i < len(body):
        c = body[i]
        if c == '\\':
            i += 1
            if body[i] not in escapes:
                raise ValueError("unknown escape in " + line)
            out += escapes[body[i]]
        else:
            out += c.encode('utf-8')
        i += 1
    return bytes(out)


def entries(path):
    """(msgid, msgstr, fuzzy) of each entry."""
    msgid = msgstr = None
    fuzzy = False
    field = None
    with open(path, encoding='utf-8') as po:
        for raw in po:
            line = raw.rstrip('\n')
            if not line.strip():
                if msgid is not None:
                    yield msgid, msgstr, fuzzy
                msgid = msgstr = None
                fuzzy = False
                field = None
            elif line.startswith('#~'):
                continue
            elif line.startswith('#,'):
                fuzzy = fuzzy or 'fuzzy' in line[2:].replace(' ', '').split(',')
            elif line.startswith('#'):
                continue
            elif line.startswith('msgctxt') or line.startswith('msgid_plural') or line.startswith('msgstr['):
                raise ValueError(path + ": contexts and plurals are not used: " + line)
            elif line.startswith('msgid '):
                if msgid is not None:
                    yield msgid, msgstr, fuzzy
                    fuzzy = False
                msgid, msgstr, field = unquote(line[6:]), b'', 'id'
            elif line.startswith('msgstr '):
                msgstr, field = unquote(line[7:]), 'str'
            elif line.startswith('"'):
                if field == 'id':
                    msgid += unquote(line)
                elif field == 'str':
                    msgstr += unquote(line)
            else:
                raise ValueError(path + ": cannot read: " + line)
    if msgid is not None:
        yield msgid, msgstr, fuzzy


def c_string(data):
    out = '"'
    for b in data:
        if b == 0x22:
            out += '\\"'
        elif b == 0x5C:
            out += '\\\\'
        elif b == 0x0A:
            out += '\\n'
        elif 0x20 <= b < 0x7F:
            out += chr(b)
        else:
            out += '\\%03o' % b  # octal: never swallows the digits after it
    return out + '"'


def main():
    source, output = sys.argv[1], sys.argv[2]
    table = sorted((i, s) for i, s, fuzzy in entries(source) if i and s and not fuzzy)
    lines = ['// Generated from %s by po_table.py: do not edit.' % source.replace('\\', '/').split('/')[-1],
             'const Translation kRussian[] = {']
    for english, russian in table:
        lines.append('    {%s,\n     %s},' % (c_string(english), c_string(russian)))
    lines.append('};')
    lines.append('const std::size_t kRussianCount = %d;' % len(table))
    with open(output, 'w', encoding='ascii', newline='\n') as out:
        out.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
