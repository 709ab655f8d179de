#!/usr/bin/env bash
# Configures and builds into build/ (or build-tsan/, build-asan/ with SANITIZE=thread|address).
# Under CI (CI=1 or CI=true, as .ci/run and most CI services set it) every warning is an error.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sanitize="${SANITIZE:-}"
case "$sanitize" in
  "") build="$top/build" ;;
  thread) build="$top/build-tsan" ;;
  address) build="$top/build-asan" ;;
  *) echo "SANITIZE must be thread or address" >&2; exit 2 ;;
esac
launcher=()
# ccache, when installed, lets several checkouts of the tree share their compiled objects.
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
werror=OFF
case "${CI:-}" in 1 | true) werror=ON ;; esac
cmake -S "$top" -B "$build" -DNIMBO_SANITIZE="$sanitize" -DNIMBO_WERROR="$werror" "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "$build"
