#!/usr/bin/env python3
"""The string tables inside orkv14.dll (English and German) hold exactly the
ids and texts of the built-in table that the Linux build uses
(src/component/resources.cpp), so both targets show the same words.

usage: string_table.py <windres> <orkv14.dll> <source dir>
"""
import re
import subprocess
import sys

LITERAL = r'"(?:[^"\\]|\\.)*"'


def c_literal(pieces):
    """Decodes adjacent C string literals (UTF-8 bytes) to text."""
    out = bytearray()
    for piece in re.findall(LITERAL, pieces):
        body, i = piece[1:-1], 0
        while i < len(body):
            ch = body[i]
            if ch != '\\':
                out += ch.encode()
                i += 1
                continue
            nxt = body[i + 1]
            if nxt == 'x':
                m = re.match(r'[0-9A-Fa-f]+', body[i + 2:])
                out.append(int(m.group(0), 16) & 0xFF)
                i += 2 + len(m.group(0))
            else:
                out += {'n': b'\n', 'r': b'\r', 't': b'\t'}.get(nxt, nxt.encode())
                i += 2
    return out.decode('utf-8')


def rc_literal(body):
    """Decodes one string as windres writes it (octal escapes are code points)."""
    out, i = [], 0
    while i < len(body):
        ch = body[i]
        if ch != '\\':
            out.append(ch)
            i += 1
            continue
        m = re.match(r'[0-7]{1,6}', body[i + 1:])
        if m:
            out.append(chr(int(m.group(0), 8)))
            i += 1 + len(m.group(0))
            continue
        nxt = body[i + 1]
        out.append({'n': '\n', 'r': '\r', 't': '\t'}.get(nxt, nxt))
        i += 2
    return ''.join(out)


def main():
    windres, dll, source = sys.argv[1:4]
    ids = {m.group(1): int(m.group(2)) for m in
           re.finditer(r'(IDS_\w+)\s*=\s*(\d+)', open(f'{source}/src/component/resources.h').read())}
    code = open(f'{source}/src/component/resources.cpp').read()
    expected = {'en': {}, 'de': {}}
    for m in re.finditer(r'\{(IDS_\w+),\s*((?:%s\s*)+),\s*((?:%s\s*)+)\}' % (LITERAL, LITERAL), code):
        expected['en'][ids[m.group(1)]] = c_literal(m.group(2))
        expected['de'][ids[m.group(1)]] = c_literal(m.group(3))

    rc = subprocess.run([windres, '-i', dll, '-O', 'rc'], check=True, capture_output=True, text=True,
                        encoding='latin-1').stdout
    found = {'en': {}, 'de': {}}
    language = None
    for line in rc.splitlines():
        m = re.match(r'LANGUAGE (\d+), (\d+)', line)
        if m:
            language = {9: 'en', 7: 'de'}.get(int(m.group(1)))
            continue
        m = re.match(r'\s+(\d+), L?"(.*)"\s*$', line)
        if m and language:
            found[language][int(m.group(1))] = rc_literal(m.group(2))

    passed = failed = 0
    for language in ('en', 'de'):
        if not expected[language]:
            print(f'FAILED: no {language} rows read from resources.cpp')
            failed += 1
        for sid in sorted(set(expected[language]) | set(found[language])):
            want, got = expected[language].get(sid), found[language].get(sid)
            if want == got:
                passed += 1
            else:
                failed += 1
                print(f'FAILED: {language} string {sid}: dll {got!r}, built-in {want!r}')
    print(f'{passed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
