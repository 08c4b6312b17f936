#!/usr/bin/env python3
"""The runtime and the tools carry no HTTP server and no JSON library: for each built file
given (static libraries, programs, modules), neither its dynamic section names the HTTP
library nor do its symbols (defined or used) come from the HTTP or the JSON library. The
authoring side is the only layer that may link them.

Usage: check_links.py FILE...          exit 1 when a file carries one
       check_links.py --expect-use FILE...   exit 1 when a file carries none (the check of
                                             the check: a library planted to use both)"""
import re
import subprocess
import sys

FORBIDDEN_LIBRARY = re.compile(r"\[libcpp-httplib[^\]]*\]")
FORBIDDEN_SYMBOL = re.compile(r"\b(httplib|nlohmann)::")
NM_LINE = re.compile(r"^\s*(?:[0-9a-f]+\s+)?[A-Za-z?-]\s+(.*)$")


def uses(path):
    """What of the HTTP or the JSON library path carries, a line each (empty when nothing)."""
    found = []
    dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True)
    for line in dynamic.stdout.splitlines():
        m = FORBIDDEN_LIBRARY.search(line)
        if m and "NEEDED" in line:
            found.append(f"needs {m.group(0)}")
    symbols = subprocess.run(["nm", "-C", path], capture_output=True, text=True)
    if symbols.returncode != 0:
        found.append(f"nm could not read it: {symbols.stderr.strip()}")
        return found
    # Lines are "ADDRESS TYPE NAME" or, for a symbol used but not defined, "TYPE NAME".
    names = sorted({NM_LINE.match(line).group(1) for line in symbols.stdout.splitlines()
                    if FORBIDDEN_SYMBOL.search(line) and NM_LINE.match(line)})
    if names:
        found.append(f"{len(names)} symbols of the HTTP or JSON library, e.g. {names[0][:120]}")
    return found


def main(argv):
    expect_use = argv[:1] == ["--expect-use"]
    files = argv[1:] if expect_use else argv
    bad = 0
    for path in files:
        found = uses(path)
        if expect_use and not found:
            print(f"{path}: the planted use of the HTTP and JSON libraries was not seen")
            bad += 1
        elif not expect_use and found:
            for line in found:
                print(f"{path}: {line}")
            bad += 1
    print(f"{len(files)} files checked, {bad} {'missed' if expect_use else 'carrying an HTTP or JSON library'}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
