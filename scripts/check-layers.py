#!/usr/bin/env python3
"""Fails when an #include runs from a lower layer of src/ to a higher one, when
folders of one layer include each other in a cycle, when a platform
conditional stands outside the platform layer, or when a host (tools/,
automation/) reaches into src/. The layers are listed in src/layers.txt."""
import os
import re
import sys

top = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
src = os.path.join(top, "src")
rank = {}
with open(os.path.join(src, "layers.txt")) as table:
    for line in table:
        if line.strip() and not line.startswith("#"):
            rank[line.split()[0]] = len(rank)

include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
platform = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|__linux__|__unix__|__APPLE__|_MSC_VER|__MINGW32__)\b")
sources = (".c", ".cc", ".cpp", ".h", ".hpp", ".inl", ".rc", ".rci")
faults = []
edges = {}  # (layer, folder) -> set of folders of the same layer it includes


def files(root):
    for folder, _, names in os.walk(root):
        for name in sorted(names):
            if name.endswith(sources):
                yield os.path.join(folder, name)


def folder_of(parts):
    # A layer's folders one level down; win32/ and posix/ count as their parent.
    return parts[1] if len(parts) > 2 and parts[1] not in ("win32", "posix") else ""


for path in files(src):
    rel = os.path.relpath(path, src).split(os.sep)
    layer = rel[0]
    if layer not in rank:
        faults.append(f"src/{'/'.join(rel)}: folder '{layer}' is not in src/layers.txt")
        continue
    pal_or_platform = layer == "pal" or "win32" in rel[:-1] or "posix" in rel[:-1]
    with open(path, errors="replace") as f:
        for number, text in enumerate(f, 1):
            where = f"src/{'/'.join(rel)}:{number}"
            if not pal_or_platform and platform.match(text):
                faults.append(f"{where}: platform conditional outside pal/, win32/ and posix/")
            m = include.match(text)
            if not m:
                continue
            target = os.path.normpath(os.path.join(*rel[:-1], m.group(1))).split(os.sep)
            if not os.path.exists(os.path.join(src, *target)):
                target = m.group(1).split("/")
            if len(target) < 2 or target[0] not in rank:
                continue
            if rank[target[0]] > rank[layer]:
                faults.append(f"{where}: {layer}/ includes {'/'.join(target)} of the higher layer {target[0]}/")
            elif target[0] == layer:
                a, b = folder_of(rel), folder_of(target)
                if a and b and a != b:
                    edges.setdefault((layer, a), set()).add(b)

# Cycles among the folders of one layer.
state = {}


def visit(node, trail):
    state[node] = 1
    for nxt in sorted(edges.get(node, ())):
        key = (node[0], nxt)
        if state.get(key) == 1:
            cycle = trail[trail.index(nxt):] + [nxt] if nxt in trail else [node[1], nxt]
            faults.append(f"src/{node[0]}/: folders include each other in a cycle: {' -> '.join(cycle)}")
        elif key not in state:
            visit(key, trail + [nxt])
    state[node] = 2


for node in sorted(edges):
    if node not in state:
        visit(node, [node[1]])

# Hosts use the public headers only.
for host in ("tools", "automation"):
    for path in files(os.path.join(top, host)):
        with open(path, errors="replace") as f:
            for number, text in enumerate(f, 1):
                m = include.match(text)
                if m and (m.group(1).split("/")[0] in rank or "src/" in m.group(1)):
                    faults.append(f"{os.path.relpath(path, top)}:{number}: a host includes {m.group(1)} from src/")

for fault in faults:
    print(fault)
if faults:
    print(f"{len(faults)} layering fault(s); the layers are listed in src/layers.txt", file=sys.stderr)
    sys.exit(1)
print(f"layers: {len(rank)} layers, every include runs downwards")
