#!/usr/bin/env bash
# Takes a picture of the runtime's demo window under a virtual X server: docs/ui-demo.png.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="${BUILD:-$top/build}"
cmake --build "$build" --target uirt_demo -j2 >/dev/null
xvfb-run -a -s "-screen 0 1024x768x24" "$build/ui/uirt_demo" --screenshot "$top/docs/ui-demo.png"
echo "$top/docs/ui-demo.png"
