#!/usr/bin/env bash
# The man page renders without a single warning.
#
#   man_page_test.sh PAGE
#
# Exits 77 (reported as skipped) when groff is missing, except in CI.
set -euo pipefail
if ! command -v groff >/dev/null; then
    [ "${CI:-}" = true ] && { echo "FAIL: groff is missing" >&2; exit 1; }
    echo "skipped: groff is not installed"
    exit 77
fi
warnings=$(groff -man -ww -z "$1" 2>&1)
if [ -n "$warnings" ]; then
    echo "FAIL: groff warns about $1:"
    echo "$warnings"
    exit 1
fi
echo "ok: $1 renders without warnings"
