#!/usr/bin/env python3
"""The component's string table has one source, the built-in table of
src/runtime/string_table.cpp (with the ids of string_table.h).

  string_table.py rc <source dir> <output.rc>
      writes the STRINGTABLE blocks (English, German) that orkv14.rc includes;
  string_table.py check <windres> <orkv14.dll> <source dir>
      reads the tables back out of the built DLL and compares them, text by text.
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


def built_in(source):
    ids = {m.group(1): int(m.group(2)) for m in
           re.finditer(r'(IDS_\w+)\s*=\s*(\d+)', open(f'{source}/src/runtime/string_table.h').read())}
    code = open(f'{source}/src/runtime/string_table.cpp').read()
    table = {'en': {}, 'de': {}}
    for m in re.finditer(r'\{(IDS_\w+),\s*((?:%s\s*)+),\s*((?:%s\s*)+)\}' % (LITERAL, LITERAL), code):
        table['en'][ids[m.group(1)]] = c_literal(m.group(2))
        table['de'][ids[m.group(1)]] = c_literal(m.group(3))
    return table


def rc_quote(text):
    out = []
    for ch in text:
        if ch == '"':
            out.append('""')
        elif ch == '\\':
            out.append('\\\\')
        elif ch == '\n':
            out.append('\\n')
        elif ch == '\t':
            out.append('\\t')
        elif ch == '\r':
            out.append('\\r')
        else:
            out.append(ch)
    return '"' + ''.join(out) + '"'


def write_rc(source, output):
    table = built_in(source)
    lines = ['// Generated from src/runtime/string_table.cpp by cmake/string_table.py.']
    for language, header in (('en', 'LANG_ENGLISH, SUBLANG_ENGLISH_US'), ('de', 'LANG_GERMAN, SUBLANG_GERMAN')):
        lines += ['', f'LANGUAGE {header}', 'STRINGTABLE', 'BEGIN']
        lines += [f'    {sid} {rc_quote(text)}' for sid, text in sorted(table[language].items())]
        lines += ['END']
    with open(output, 'w', encoding='utf-8') as f:
        f.write('\n'.join(lines) + '\n')
    return 0


def check(windres, dll, source):
    expected = built_in(source)
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
            print(f'FAILED: no {language} rows read from string_table.cpp')
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
    if sys.argv[1] == 'rc':
        sys.exit(write_rc(sys.argv[2], sys.argv[3]))
    sys.exit(check(*sys.argv[2:5]))
