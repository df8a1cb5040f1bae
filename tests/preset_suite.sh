#!/usr/bin/env bash
# Runs another workflow preset (its own build and tests) as one test of the
# whole suite.
#
#   preset_suite.sh SOURCE_DIR PRESET TOOL...
#
# Exits 77 (reported as skipped) when one of the tools it needs is missing,
# except in CI (CI=true), where that is a failure.
set -euo pipefail
source_dir=$1
preset=$2
shift 2
missing=""
for tool in "$@"; do
    case "$tool" in
    /*) [ -e "$tool" ] || missing="$missing $tool" ;;
    *) command -v "$tool" >/dev/null || missing="$missing $tool" ;;
    esac
done
if [ -n "$missing" ]; then
    if [ "${CI:-}" = true ]; then
        echo "FAIL: the $preset suite needs$missing" >&2
        exit 1
    fi
    echo "skipped: the $preset suite needs$missing"
    exit 77
fi
cd "$source_dir"
cmake --workflow --preset "$preset"
