#!/usr/bin/env bash
# Builds the packages and checks them: `cmake --install`, the .tar.gz and the
# .deb hold the program and its man page; in CI the .deb is also installed with
# dpkg -i, used, and removed again (outside CI that would change the machine,
# so only its contents are checked). The Windows .zip is built and checked when
# MinGW-w64 is there (always in CI).
#
#   package_test.sh SOURCE_DIR
set -euo pipefail
cd "$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cmake --workflow --preset package >"$scratch/package.log" || { cat "$scratch/package.log"; exit 1; }
deb=$(ls build/release/corvane_*_amd64.deb)
tgz=$(ls build/release/corvane-*-Linux.tar.gz)

has() { # listing entry
    grep -Eq "$2\$" <<<"$1" || { echo "FAIL: no $2 in the package"; echo "$1"; exit 1; }
}
has "$(tar -tzf "$tgz")" "/bin/corvane"
has "$(tar -tzf "$tgz")" "/share/man/man1/corvane.1"
has "$(dpkg-deb -c "$deb")" "\./usr/bin/corvane"
has "$(dpkg-deb -c "$deb")" "\./usr/share/man/man1/corvane.1"
echo "ok: $tgz and $deb hold bin/corvane and man1/corvane.1"

cmake --install build/release --prefix "$scratch/prefix" >/dev/null
test -x "$scratch/prefix/bin/corvane" && test -f "$scratch/prefix/share/man/man1/corvane.1" ||
    { echo "FAIL: cmake --install left out a file"; exit 1; }
printf 'GB' >"$scratch/wave"
"$scratch/prefix/bin/corvane" "$scratch/wave"
grep -q 'const unsigned char wave\[\] =' "$scratch/wave.c" || { echo "FAIL: the installed corvane"; exit 1; }
echo "ok: cmake --install puts a working bin/corvane and man1/corvane.1 under the prefix"

if [ "${CI:-}" = true ]; then
    dpkg -i "$deb"
    rm -f "$scratch/wave.c"
    /usr/bin/corvane "$scratch/wave"
    test -f "$scratch/wave.c" && test -f /usr/share/man/man1/corvane.1 ||
        { echo "FAIL: the installed package"; exit 1; }
    dpkg -r corvane
    if [ -e /usr/bin/corvane ] || [ -e /usr/share/man/man1/corvane.1 ] || dpkg -s corvane >/dev/null 2>&1; then
        echo "FAIL: dpkg -r left corvane behind"
        exit 1
    fi
    echo "ok: the .deb installs with dpkg -i, works, and removes cleanly"
else
    echo "note: the .deb is installed and removed only in CI (CI=true)"
fi

if [ "${CI:-}" = true ] || command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    cmake --workflow --preset package-windows >"$scratch/windows.log" || { cat "$scratch/windows.log"; exit 1; }
    zip=$(ls build/windows/corvane-*-windows-x86_64.zip)
    python3 - "$zip" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
if not any(n.endswith("/bin/corvane.exe") for n in names):
    sys.exit(f"FAIL: no bin/corvane.exe in {sys.argv[1]}: {names}")
PY
    echo "ok: $zip holds bin/corvane.exe"
fi
echo "packages: all checks passed"
