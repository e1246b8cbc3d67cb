#!/usr/bin/env bash
# Fails when a C++ file in src, tools, tests, bench or fuzz differs from the checked-in .clang-format.
# CI runs it before the tests; `clang-format -i FILE` puts a file right.
set -euo pipefail
cd "$(dirname "$0")/.."
find src tools tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) -print0 |
    sort -z | xargs -0 clang-format --dry-run -Werror
