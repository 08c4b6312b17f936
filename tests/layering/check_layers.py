#!/usr/bin/env python3
"""Every arrow between folders points down: a folder includes only from itself and from the
folders below it. Quoted includes are resolved the way the build resolves them (the folder of
the including file, then the repository root, then the tests' folder for tests and benchmarks,
then the plug-in contract), and a file found in a folder the including folder may not use is
reported with its line. Every folder that holds sources must be named in UNITS below, so a new
folder cannot escape the rule by being forgotten.

Usage: check_layers.py SOURCE_DIR"""
import os
import re
import sys

# The layers bottom to top, and inside the runtime and the authoring side their own order.
# A unit is a folder; a file belongs to the longest unit that contains it.
BASE = {"base", "contract"}
MESH = BASE | {"mesh_files"}
GFX = MESH | {"gfx"}
AUDIO = BASE | {"host/audio"}
SOUND = AUDIO | {"host/sound"}
SHOW = BASE | {"host/show"}
SYNC = SHOW | {"host/sync"}
MODULES = GFX | SOUND | SYNC | {"host/modules"}
RUNTIME = MODULES | {"host/app"}
CONTROL = RUNTIME | {"authoring/control"}
EDITOR = CONTROL | {"authoring/editor"}
AUTHORING = EDITOR | {"authoring/dev"}
PLAYER = AUTHORING | {"player"}
TOOLS = RUNTIME  # a tool is a program over the runtime; it never reaches the authoring side
SOURCE_TREE = PLAYER | {"modules"}
TEST_SUPPORT = SOURCE_TREE | {"tests/support"}
ALL_TOOLS = {"tools/democapture", "tools/synctool", "tools/objinfo", "tools/new_scene", "tools"}

UNITS = {
    "base": BASE - {"contract"},
    "contract": {"contract"},
    "mesh_files": MESH,
    "gfx": GFX,
    "host/show": SHOW,
    "host/audio": AUDIO,
    "host/sound": SOUND,
    "host/sync": SYNC,
    "host/modules": MODULES,
    "host/app": RUNTIME,
    "authoring/control": CONTROL,
    "authoring/editor": EDITOR,
    "authoring/dev": AUTHORING,
    "player": PLAYER,
    # The scene module is built against the plug-in contract alone.
    "modules": {"contract", "modules"},
    # Each tool keeps to itself: no tool borrows another's code.
    "tools/democapture": TOOLS | {"tools/democapture"},
    "tools/synctool": TOOLS | {"tools/synctool"},
    "tools/objinfo": TOOLS | {"tools/objinfo"},
    "tools": TOOLS | {"tools"},
    # The template a new scene is made from is built outside this tree, against the kit's
    # contract alone.
    "tools/new_scene": {"contract", "tools/new_scene"},
    # The tests' shared helpers sit below every test; tests and benchmarks are the top, and
    # nothing includes a benchmark.
    "tests/support": TEST_SUPPORT,
    "tests": TEST_SUPPORT | ALL_TOOLS | {"tests"},
    "bench": TEST_SUPPORT | ALL_TOOLS | {"bench"},
}
# Folders that hold no sources of ours.
IGNORED = {".git", "build", "data", "shared"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s+<([^>]+)>')
# The HTTP server and the JSON library belong to the authoring side (and the tests of it).
AUTHORING_ONLY = ("httplib.h", "nlohmann/")
MAY_SERVE = {"authoring/editor", "authoring/dev", "authoring/control", "player", "tests", "bench"}
SOURCE = (".h", ".hpp", ".cpp", ".cc", ".c")


def unit_of(root, path):
    """The longest unit that contains path, or None."""
    rel = os.path.relpath(path, root).replace(os.sep, "/")
    best = None
    for unit in UNITS:
        if (rel == unit or rel.startswith(unit + "/")) and (best is None or len(unit) > len(best)):
            best = unit
    return best


def resolve(root, including, name):
    bases = [os.path.dirname(including), root]
    if unit_of(root, including) in ("tests", "tests/support", "bench"):
        bases.append(os.path.join(root, "tests"))
    bases.append(os.path.join(root, "contract"))
    for base in bases:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None


def source_files(root):
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if rel == ".":
            dirs[:] = [d for d in dirs if d not in IGNORED and not d.startswith(("build", "."))]
        for f in sorted(files):
            if f.endswith(SOURCE):
                yield os.path.join(folder, f)


def check(root):
    """The problems of the tree at root, one line each, and the number of includes checked."""
    problems = []
    checked = 0
    for path in source_files(root):
        rel = os.path.relpath(path, root)
        unit = unit_of(root, path)
        if unit is None:
            problems.append(f"{rel}: its folder is in no layer (name it in tests/layering/check_layers.py)")
            continue
        with open(path, encoding="utf-8", errors="replace") as src:
            for number, line in enumerate(src, 1):
                system = SYSTEM_INCLUDE.match(line)
                if system and system.group(1).startswith(AUTHORING_ONLY) and unit not in MAY_SERVE:
                    problems.append(f"{rel}:{number}: {unit}/ includes <{system.group(1)}>, which only "
                                    f"the authoring side may use")
                m = INCLUDE.match(line)
                if not m:
                    continue
                checked += 1
                target = resolve(root, path, m.group(1))
                if target is None:
                    problems.append(f"{rel}:{number}: \"{m.group(1)}\" is not a file of the tree")
                    continue
                used = unit_of(root, target)
                if used not in UNITS[unit]:
                    problems.append(f"{rel}:{number}: {unit}/ includes \"{m.group(1)}\" from {used}/, "
                                    f"a folder it may not use")
    return problems, checked


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    problems, checked = check(root)
    for p in problems:
        print(p)
    print(f"{checked} includes checked, {len(problems)} pointing up or nowhere")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
