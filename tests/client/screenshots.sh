#!/usr/bin/env bash
# Takes the client window's pictures under a virtual X server: docs/client-connected.png,
# docs/client-enlarged.png, docs/client-context-menu.png, docs/client-rename.png,
# docs/client-create-directory.png and docs/client-trust-question.png.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="${BUILD:-$top/build}"
cmake --build "$build" --target client_screenshots -j2 >/dev/null
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/client/client_screenshots" "$top/docs"
