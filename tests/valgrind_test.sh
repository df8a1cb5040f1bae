#!/usr/bin/env bash
# Runs a few conversions and failures under valgrind's memcheck, which must
# find no error and no leak.
#
#   valgrind_test.sh PROGRAM     (a dynamically linked corvane)
#
# Exits 77 (reported as skipped) when valgrind is missing, except in CI.
set -euo pipefail
program=$1
if ! command -v valgrind >/dev/null; then
    [ "${CI:-}" = true ] && { echo "FAIL: valgrind is missing" >&2; exit 1; }
    echo "skipped: valgrind is not installed"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
: >empty
head -c 17 /dev/urandom >wave
head -c 200000 /dev/urandom >big
mkdir folder
head -c 10 /dev/urandom >blocked && mkdir blocked.c

check() { # expected-status arguments...
    local expected=$1 status=0
    shift
    valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
        --errors-for-leak-kinds=all "$program" "$@" 2>valgrind.log || status=$?
    if [ "$status" != "$expected" ]; then
        echo "FAIL: corvane $* exited $status under valgrind, expected $expected"
        cat valgrind.log
        exit 1
    fi
    echo "ok: corvane $* (exit $status)"
}
check 0 empty
check 0 wave
check 0 big
check 1
check 1 missing
check 1 folder
check 1 blocked
echo "7 passed, 0 failed"
