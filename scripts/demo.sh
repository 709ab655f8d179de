#!/usr/bin/env bash
# Installs what is missing, builds, starts the bundled demo FTP server on 127.0.0.1:2121 over a copy of
# resources/demo (its /incoming holds the batch's default files but "garbage", absent on purpose), runs
# the program against it, and stops the server when the program exits.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
build=$("$top/scripts/build.sh" | tail -n 1)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: this program opens windows. Run it in a desktop session (or under xvfb-run)." >&2
  exit 1
fi

root=$(mktemp -d)
log=$(mktemp)
# The program's current directory, where its batch downloads by default: a scratch folder, not yours.
local=$(mktemp -d)
cleanup() { kill "${server:-0}" 2>/dev/null || true; rm -rf "$root" "$log" "$local"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
cp -r "$top/resources/demo/." "$root/"
mkdir -p "$root/incoming"
/usr/bin/python3 - "$root/incoming/Quillmere.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("Quillmere/readme.txt", "A small archive from the demo server.\n" * 40)
PY
chmod -R a+rwX "$root"
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p 2121 -w -d "$root" -r 30000-30100 >"$log" 2>&1 &
server=$!
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/2121) 2>/dev/null && break
  sleep 0.1
done
echo "Demo FTP server on 127.0.0.1:2121 (anonymous), serving $root"

echo "The program starts in $local (removed when it ends)"

# The parameters window offers this server (its default) whatever the caller's environment says.
cd "$local"
TARNWICK_DEFAULT_SERVER=127.0.0.1:2121 "$build/frame/tarnwick"
