#!/usr/bin/env bash
# Cross-builds corvane.exe with MinGW-w64 and runs its tests under Wine, through
# the `windows` workflow preset. Exits 77 (reported as skipped) when MinGW-w64 or
# Wine is missing, except in CI (CI=true), where that is a failure.
set -euo pipefail
source_dir=$1
missing=""
for tool in x86_64-w64-mingw32-g++-posix wine; do
    command -v "$tool" >/dev/null || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    if [ "${CI:-}" = true ]; then
        echo "FAIL: missing$missing" >&2
        exit 1
    fi
    echo "skipped: missing$missing (apt-get install mingw-w64 wine wine64)"
    exit 77
fi
cd "$source_dir"
cmake --workflow --preset windows
