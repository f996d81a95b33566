#!/usr/bin/env python3
"""What a Linux wheel asks of the system it is installed on.

Usage: python3 tools/wheel_report.py WHEEL [--check]

Prints, for every shared object in the wheel, the libraries it needs, and then
the newest GLIBC_, GLIBCXX_, CXXABI_ and GCC_ symbol versions asked for, with
the symbols that ask for them: those set the wheel's manylinux tag. Reads the
objects with objdump (binutils).

--check fails unless the wheel is self-contained: every needed library is
either one that the manylinux policy lets a wheel take from the system (glibc's
libraries, libstdc++, libgcc_s) or a file shipped in the wheel, and the wheel's
manylinux_2_NN tag is not older than the newest glibc version asked for.
"""

import os
import re
import subprocess
import sys
import tempfile
import zipfile

# What a manylinux wheel may take from the system (the policy's library list).
SYSTEM = {
    "libc.so.6", "libm.so.6", "libdl.so.2", "librt.so.1", "libpthread.so.0", "libutil.so.1",
    "libresolv.so.2", "libnsl.so.1", "libcrypt.so.1", "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1",
    "libstdc++.so.6", "libgcc_s.so.1",
}
FAMILIES = ("GLIBC", "GLIBCXX", "CXXABI", "GCC")
UNDEFINED = re.compile(r"\*UND\*\s+\S+\s+(?:\()?(?P<family>GLIBC|GLIBCXX|CXXABI|GCC)_(?P<version>[0-9.]+)\)?\s+(?P<symbol>.+)$")


def objdump(*args):
    return subprocess.run(["objdump", *args], check=True, capture_output=True, text=True).stdout


def version_key(v):
    return tuple(int(x) for x in v.split("."))


def inspect(path):
    needed = re.findall(r"^\s*NEEDED\s+(\S+)", objdump("-p", path), re.M)
    asks = {}  # family -> version -> {symbol}
    for line in objdump("-TC", path).splitlines():
        m = UNDEFINED.search(line)
        if m:
            asks.setdefault(m["family"], {}).setdefault(m["version"], set()).add(m["symbol"].strip())
    return needed, asks


def main(argv):
    if len(argv) not in (2, 3) or (len(argv) == 3 and argv[2] != "--check"):
        sys.exit(__doc__)
    wheel, check = argv[1], len(argv) == 3
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        with zipfile.ZipFile(wheel) as z:
            objects = sorted(n for n in z.namelist() if re.search(r"\.so(\.|$)", os.path.basename(n)))
            z.extractall(tmp, objects)
        shipped = {os.path.basename(n) for n in objects}
        newest = {}  # family -> (version, [(symbol, object)])
        print(os.path.basename(wheel))
        for name in objects:
            needed, asks = inspect(os.path.join(tmp, name))
            print(f"  {name} needs {', '.join(needed)}")
            problems += [f"{name} needs {lib} from the system" for lib in needed
                         if lib not in SYSTEM and lib not in shipped]
            for family, versions in asks.items():
                top = max(versions, key=version_key)
                if family not in newest or version_key(top) > version_key(newest[family][0]):
                    newest[family] = (top, [])
                if newest[family][0] == top:
                    newest[family][1].extend((s, name) for s in sorted(versions[top]))
    print("  newest symbol versions asked for:")
    for family in FAMILIES:
        if family in newest:
            version, users = newest[family]
            print(f"    {family}_{version}: " + "; ".join(f"{s} ({os.path.basename(o)})" for s, o in users))
    tag = re.search(r"manylinux_(\d+)_(\d+)_", os.path.basename(wheel))
    if check:
        if not objects:
            problems.append("no shared object in the wheel")
        if tag is None:
            problems.append("the wheel has no manylinux_2_NN tag")
        elif "GLIBC" in newest and version_key(newest["GLIBC"][0]) > (int(tag[1]), int(tag[2])):
            problems.append(f"tagged manylinux_{tag[1]}_{tag[2]} but asks for GLIBC_{newest['GLIBC'][0]}")
        for p in problems:
            print(f"wheel_report: {p}", file=sys.stderr)
        return 1 if problems else 0
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
