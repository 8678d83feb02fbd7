#!/usr/bin/env python3
"""Checks the include structure of src/ and tools/: no cycle between files, and between folders
no cycle at all (src/core/ includes no other folder, so nothing can cycle through it).
Prints the folder graph with -v. Exit status 1 on a cycle."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BASES = [os.path.join(ROOT, "src"), os.path.join(ROOT, "tools")]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def files():
    for base in BASES:
        for top, _, names in os.walk(base):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    path = os.path.join(top, name)
                    yield os.path.relpath(path, base), path


def resolve(rel_dir, target):
    for base in BASES:
        for candidate in (os.path.join(base, target), os.path.join(base, rel_dir, target)):
            if os.path.exists(candidate):
                return os.path.relpath(candidate, base)
    return None


def find_cycle(graph):
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def main():
    file_graph, folder_graph = {}, {}
    for rel, path in files():
        with open(path, encoding="utf-8") as f:
            text = f.read()
        folder = os.path.dirname(rel)
        for target in INCLUDE.findall(text):
            resolved = resolve(folder, target)
            if resolved is None:
                continue
            file_graph.setdefault(rel, set()).add(resolved)
            # A .cpp and its own header are one unit; headers decide the file cycles.
            other = os.path.dirname(resolved)
            if other != folder:
                folder_graph.setdefault(folder, set()).add(other)
    status = 0
    cycle = find_cycle(file_graph)
    if cycle:
        print("file include cycle: " + " -> ".join(cycle))
        status = 1
    cycle = find_cycle(folder_graph)
    if cycle:
        print("folder include cycle: " + " -> ".join(cycle))
        status = 1
    if folder_graph.get("core"):
        print("core includes other folders: " + ", ".join(sorted(folder_graph["core"])))
        status = 1
    if "-v" in sys.argv:
        for folder in sorted(folder_graph):
            print(f"{folder or '.'} -> {', '.join(sorted(folder_graph[folder]))}")
    return status


if __name__ == "__main__":
    sys.exit(main())
