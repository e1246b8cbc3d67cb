#!/usr/bin/env bash
# Fails when a C++ file in src, tools, tests or bench differs from the checked-in .clang-format.
# CI runs it before the tests; `clang-format -i FILE` puts a file right.
set -euo pipefail
cd "$(dirname "$0")/.."
find src tools tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 |
    sort -z | xargs -0 clang-format --dry-run -Werror
