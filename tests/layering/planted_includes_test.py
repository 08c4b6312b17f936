#!/usr/bin/env python3
"""The layering check is seen to catch what it exists for: a copy of the tree's sources gets,
one folder at a time, an include of a file from a folder that folder may not use, and the check
must report exactly that line; a source in a folder named in no layer must be reported too.

Usage: planted_includes_test.py SOURCE_DIR"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_layers  # noqa: E402


def copy_sources(root, copy):
    for path in check_layers.source_files(root):
        target = os.path.join(copy, os.path.relpath(path, root))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(path, target)


def files_by_unit(root):
    found = {}
    for path in check_layers.source_files(root):
        found.setdefault(check_layers.unit_of(root, path), []).append(path)
    return found


def plant(root, files, unit):
    """Appends to one file of unit an include it may not use; returns (file, line) or None."""
    forbidden = [u for u in sorted(files) if u not in check_layers.UNITS[unit]]
    if not forbidden:
        return None
    # A header of the forbidden unit, named from the root as the tree writes its includes.
    target_unit = forbidden[0]
    header = next((f for f in files[target_unit] if f.endswith(".h")), files[target_unit][0])
    name = os.path.relpath(header, root)
    if target_unit in ("tests", "tests/support") or target_unit.startswith("tests/"):
        name = os.path.relpath(header, os.path.join(root, "tests"))
    victim = files[unit][0]
    with open(victim, encoding="utf-8", errors="replace") as f:
        lines = f.read().count("\n")
    with open(victim, "a", encoding="utf-8") as f:
        f.write(f'#include "{name}"\n')
    return victim, lines + 1


def main():
    source = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    failures = []
    with tempfile.TemporaryDirectory() as copy:
        copy_sources(source, copy)
        clean, _ = check_layers.check(copy)
        if clean:
            print("the copy of the tree is not clean to begin with:", *clean, sep="\n  ")
            return 1
        files = files_by_unit(copy)
        planted = 0
        for unit in sorted(files):
            original = None
            spot = None
            victim = files[unit][0]
            with open(victim, encoding="utf-8", errors="replace") as f:
                original = f.read()
            spot = plant(copy, files, unit)
            if spot is None:
                continue  # a folder that may use everything: nothing is above it
            planted += 1
            problems, _ = check_layers.check(copy)
            expected = f"{os.path.relpath(spot[0], copy)}:{spot[1]}:"
            if len(problems) != 1 or not problems[0].startswith(expected):
                failures.append(f"{unit}: planted at {expected} but the check said {problems}")
            with open(victim, "w", encoding="utf-8") as f:
                f.write(original)
        # A folder nobody placed in a layer.
        os.makedirs(os.path.join(copy, "stray"))
        with open(os.path.join(copy, "stray", "stray.cpp"), "w", encoding="utf-8") as f:
            f.write('#include "base/log/console.h"\n')
        problems, _ = check_layers.check(copy)
        if not any(p.startswith("stray/stray.cpp: its folder is in no layer") for p in problems):
            failures.append(f"a source in an unplaced folder was not reported: {problems}")
    for failure in failures:
        print(failure)
    print(f"{planted} folders given an upward include, {len(failures)} not caught")
    return 1 if failures or planted < 15 else 0


if __name__ == "__main__":
    sys.exit(main())
