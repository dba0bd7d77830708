#!/bin/bash
# Fails when a C++ file of the project is not laid out as .clang-format says.
set -u
cd "$1" || exit 2
files=$(git ls-files '*.cpp' '*.h' '*.mm' 2>/dev/null || find . -name '*.cpp' -o -name '*.h' -o -name '*.mm' | grep -v '^./build')
# shellcheck disable=SC2086
clang-format --dry-run --Werror $files
