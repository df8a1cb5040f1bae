#!/usr/bin/env python3
"""Builds examples/gbdk with its own Makefile, the compiler pointed at plain
`sdcc -msm83` (GBDK is not in Debian), and checks that the asset's bytes are in
the linked program, before and after the asset changes.

usage: gbdk_example_test.py SOURCE_DIR CORVANE

Exits 77 (reported as skipped) when sdcc or make is missing, unless CI=true.
"""
import os
import shutil
import subprocess
import sys
import tempfile


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def ihx_image(path):
    """The bytes an Intel HEX file loads, as {address: byte}."""
    image = {}
    with open(path) as f:
        for line in f:
            record = bytes.fromhex(line.strip()[1:])
            count, address, kind = record[0], record[1] << 8 | record[2], record[3]
            if kind == 0:
                for i, byte in enumerate(record[4:4 + count]):
                    image[address + i] = byte
    return image


def contains(image, data):
    memory = bytes(image.get(a, 0) for a in range(max(image) + 1))
    return data in memory


def build(folder, corvane):
    result = subprocess.run(
        ["make", f"CORVANE={corvane}", "LCC=sdcc -msm83", "O=rel", "ROM=wave.ihx"],
        cwd=folder, capture_output=True, text=True)
    print(result.stdout, end="")
    if result.returncode != 0:
        fail(f"make exited {result.returncode}:\n{result.stderr}")


def main():
    source_dir, corvane = sys.argv[1], os.path.abspath(sys.argv[2])
    missing = [tool for tool in ("sdcc", "make") if shutil.which(tool) is None]
    if missing:
        if os.environ.get("CI") == "true":
            fail(f"missing {' '.join(missing)}")
        print(f"skipped: missing {' '.join(missing)}")
        sys.exit(77)
    with tempfile.TemporaryDirectory() as scratch:
        folder = os.path.join(scratch, "gbdk")
        shutil.copytree(os.path.join(source_dir, "examples", "gbdk"), folder)
        asset = os.path.join(folder, "res", "wave")
        with open(asset, "rb") as f:
            original = f.read()
        build(folder, corvane)
        if not contains(ihx_image(os.path.join(folder, "wave.ihx")), original):
            fail("the linked program does not hold the asset's bytes")
        print("ok: the asset's bytes are in wave.ihx")

        changed = bytes(reversed(original))
        with open(asset, "wb") as f:
            f.write(changed)
        build(folder, corvane)
        if not contains(ihx_image(os.path.join(folder, "wave.ihx")), changed):
            fail("after the asset changed, the program does not hold its new bytes")
        print("ok: a changed asset is converted and linked again")
    print("2 passed, 0 failed")


main()
