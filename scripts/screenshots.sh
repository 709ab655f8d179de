#!/usr/bin/env bash
# Takes the README's pictures of the program under a virtual X server, into docs/: the frame with its
# FTP menu open, the parameters window with its defaults, a batch window part way through a download.
# Xvfb alone draws no title bars: with twm (and xfonts-base) installed, the windows get theirs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD:-$top/build}"
cmake --build "$build" --target program_screenshots -j2 >/dev/null
twmrc=$(mktemp)
trap 'rm -f "$twmrc"' EXIT
printf 'RandomPlacement\nNoGrabServer\n' >"$twmrc"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  if command -v twm >/dev/null; then LC_ALL=C twm -f "$2" >/dev/null 2>&1 & sleep 1; fi
  "$0" "$1"' "$build/tests/frame/program_screenshots" "$top/docs" "$twmrc"
ls "$top"/docs/frame-ftp-menu.png "$top"/docs/parameters-defaults.png "$top"/docs/batch-download.png
