#!/usr/bin/env python3
"""Compiles array sources with real compilers and checks that the bytes survive.

usage: toolchain_test.py CORVANE sdcc|host

sdcc: each array source compiles with `sdcc -msm83 -c` (the Game Boy CPU) and
      the object file's code area holds exactly the input's bytes, with nothing
      in RAM or its initialisers (the array is const, so it is ROM data).
host: each array source compiles with the host C compiler as strict C99, and a
      program linked with it reads back every byte.

Exits 77 (reported as skipped) when the compiler is missing, unless CI=true,
where a missing tool is a failure.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

# (array name, input bytes): names are valid C identifiers.
rng = random.Random(4)
CASES = [
    ("wave", bytes([0x42])),
    ("row", bytes(rng.randrange(256) for _ in range(16))),
    ("rows", bytes(rng.randrange(256) for _ in range(17))),
    ("every_value", bytes(range(256)) + bytes(reversed(range(256)))),
    ("tiles", bytes(rng.randrange(256) for _ in range(5000))),
]


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def run(cmd, cwd):
    result = subprocess.run(cmd, cwd=cwd, capture_output=True)
    if result.returncode != 0:
        fail(f"{' '.join(cmd)} exited {result.returncode}:\n"
             f"{result.stdout.decode(errors='replace')}{result.stderr.decode(errors='replace')}")
    return result.stdout


def convert(corvane, folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
    run([corvane, name], folder)


def rel_areas(path):
    """Reads an SDCC .rel object: {area name: (size, {address: byte})}."""
    names, areas, pending = [], {}, None
    with open(path) as f:
        lines = [line.split() for line in f]
    if lines[0][0] != "XL3":
        fail(f"{path}: expected a little-endian object with 3-byte addresses, got {lines[0]}")
    for words in lines:
        if words[0] == "A":
            names.append(words[1])
            areas[words[1]] = (int(words[3], 16), {})
        elif words[0] == "T":
            pending = [int(w, 16) for w in words[1:]]
        elif words[0] == "R" and pending is not None:
            r = [int(w, 16) for w in words[1:]]
            area = names[r[2] | r[3] << 8]
            address = pending[0] | pending[1] << 8 | pending[2] << 16
            for i, byte in enumerate(pending[3:]):
                areas[area][1][address + i] = byte
            pending = None
    return areas


def check_sdcc(corvane, folder):
    sdcc = shutil.which("sdcc")
    if sdcc is None:
        return None
    for name, data in CASES:
        convert(corvane, folder, name, data)
        run([sdcc, "-msm83", "-c", name + ".c"], folder)
        areas = rel_areas(os.path.join(folder, name + ".rel"))
        size, image = areas["_CODE"]
        code = bytes(image.get(a, -1) & 0xFF for a in range(size))
        if size != len(data) or len(image) != size or code != data:
            fail(f"{name}: _CODE holds {size} bytes that differ from the input")
        for area in ("_DATA", "_INITIALIZED", "_INITIALIZER"):
            if areas.get(area, (0, {}))[0] != 0:
                fail(f"{name}: {area} is not empty: the array did not land in ROM")
        print(f"ok sdcc -msm83: {name} ({len(data)} bytes) in _CODE")
    return True


def check_host(corvane, folder):
    cc = os.environ.get("CC") or shutil.which("cc")
    if cc is None:
        return None
    flags = ["-std=c99", "-Wall", "-Wextra", "-Werror", "-Wpedantic"]
    with open(os.path.join(folder, "read_back.c"), "w") as f:
        f.write("#include <stdio.h>\n"
                "extern const unsigned char NAME[];\n"
                "int main(void) { return fwrite(NAME, 1, SIZE, stdout) != SIZE; }\n")
    for name, data in CASES:
        convert(corvane, folder, name, data)
        run([cc, *flags, "-c", name + ".c"], folder)
        run([cc, *flags, f"-DNAME={name}", f"-DSIZE={len(data)}", "read_back.c", name + ".o",
             "-o", name + "_read_back"], folder)
        if run([os.path.join(folder, name + "_read_back")], folder) != data:
            fail(f"{name}: the linked program read back other bytes")
        print(f"ok {cc}: {name} ({len(data)} bytes) read back")
    return True


def main():
    corvane, which = os.path.abspath(sys.argv[1]), sys.argv[2]
    check = {"sdcc": check_sdcc, "host": check_host}[which]
    with tempfile.TemporaryDirectory() as folder:
        if check(corvane, folder) is None:
            if os.environ.get("CI") == "true":
                fail(f"the {which} compiler is missing")
            print(f"skipped: the {which} compiler is not installed")
            sys.exit(77)
    print(f"{len(CASES)} passed, 0 failed")


main()
