#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# SANITIZE=thread or SANITIZE=address runs it on a sanitizer build instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
build=$("$top/scripts/build.sh" | tail -n 1)
cd "$build"
ctest --output-on-failure -j2 ${CTEST_ARGS:-}
