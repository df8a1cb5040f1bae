#!/usr/bin/env bash
# clang-tidy (with the project's .clang-tidy) and cppcheck must find nothing in
# the program's sources, and every C++ file is formatted as .clang-format says.
#
#   static_analysis.sh SOURCE_DIR BUILD_DIR    (BUILD_DIR has compile_commands.json)
#
# Exits 77 (reported as skipped) when a tool is missing, except in CI.
set -euo pipefail
source_dir=$1
build_dir=$2
for tool in clang-tidy cppcheck clang-format; do
    if ! command -v "$tool" >/dev/null; then
        [ "${CI:-}" = true ] && { echo "FAIL: $tool is missing" >&2; exit 1; }
        echo "skipped: $tool is not installed"
        exit 77
    fi
done
cd "$source_dir"
# The Windows half of the platform layer is checked by the MinGW-w64 build.
clang-tidy --quiet -p "$build_dir" src/corvane.cpp src/array_source.cpp src/platform.cpp \
    src/platform_posix.cpp
cppcheck --enable=warning,style,performance,portability --std=c++20 --error-exitcode=1 \
    --inline-suppr --suppress=missingIncludeSystem --quiet src/
clang-format --dry-run --Werror src/*.cpp src/*.hpp tests/*.cpp tests/*.hpp bench/*.cpp
echo "clang-tidy, cppcheck and clang-format: clean"
