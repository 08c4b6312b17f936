#!/usr/bin/env python3
"""Every arrow between folders points down: a folder includes only from itself and from the
folders below it. Quoted includes are resolved the way the build resolves them (the folder of
the including file, then the repository root, then the plug-in contract), and a file found
in a folder the including folder may not use is reported with its line.

Usage: check_layers.py SOURCE_DIR"""
import os
import re
import sys

# Who may include whom. base and the plug-in contract are the bottom (the contract holds the
# plain records that meshes and models share); the scene module sees the contract alone.
ALLOWED = {
    "base": {"base"},
    "contract": {"contract"},
    "mesh_files": {"base", "contract", "mesh_files"},
    "gfx": {"base", "contract", "mesh_files", "gfx"},
    "host": {"base", "contract", "mesh_files", "gfx", "host"},
    "modules": {"contract", "modules"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE = (".h", ".hpp", ".cpp", ".cc", ".c")


def layer_of(root, path):
    rel = os.path.relpath(path, root).split(os.sep)
    return rel[0]


def resolve(root, including, name):
    for base in (os.path.dirname(including), root, os.path.join(root, "contract")):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    problems = []
    checked = 0
    for layer in ALLOWED:
        for folder, _, files in os.walk(os.path.join(root, layer)):
            for f in sorted(files):
                if not f.endswith(SOURCE):
                    continue
                path = os.path.join(folder, f)
                with open(path, encoding="utf-8", errors="replace") as src:
                    for number, line in enumerate(src, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        checked += 1
                        target = resolve(root, path, m.group(1))
                        if target is None:
                            problems.append(f"{os.path.relpath(path, root)}:{number}: \"{m.group(1)}\" is not a file of the tree")
                            continue
                        used = layer_of(root, target)
                        if used not in ALLOWED[layer]:
                            problems.append(f"{os.path.relpath(path, root)}:{number}: {layer}/ includes "
                                            f"\"{m.group(1)}\" from {used}/, a folder above it")
    for p in problems:
        print(p)
    print(f"{checked} includes checked, {len(problems)} pointing up or nowhere")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
