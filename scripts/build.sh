#!/usr/bin/env bash
# Configures and builds into build/ (or build-tsan/, build-asan/ with SANITIZE=thread|address).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sanitize="${SANITIZE:-}"
case "$sanitize" in
  "") build="$top/build" ;;
  thread) build="$top/build-tsan" ;;
  address) build="$top/build-asan" ;;
  *) echo "SANITIZE must be thread or address" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$build" -DNIMBO_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "$build"
