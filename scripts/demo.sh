#!/usr/bin/env bash
# Installs what is missing, builds, starts the bundled demo FTP server on 127.0.0.1:2121 over a copy of
# resources/demo (its /incoming holds the batch's default files but "garbage", absent on purpose), runs
# the program against it, and stops the server when the program exits. With --tls the server speaks
# explicit FTP over TLS (ftpes://127.0.0.1:2121) with a self-signed certificate made at start.
set -euo pipefail
tls=0
if [ "${1:-}" = "--tls" ]; then tls=1; fi
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
build=$("$top/scripts/build.sh" | tail -n 1)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: this program opens windows. Run it in a desktop session (or under xvfb-run)." >&2
  exit 1
fi

# Another program on the demo's port would be the one the program talks to: say so and stop.
if (exec 3<>/dev/tcp/127.0.0.1/2121) 2>/dev/null; then
  echo "Port 2121 on 127.0.0.1 is already taken by another program, so the demo server cannot start." >&2
  echo "Stop that program (see: ss -ltnp 'sport = :2121') and run scripts/demo.sh again." >&2
  exit 1
fi

root=$(mktemp -d)
log=$(mktemp)
certs=$(mktemp -d)  # beside the served folder, never inside it: it holds the private key
# The program's current directory, where its batch downloads by default: a scratch folder, not yours.
local=$(mktemp -d)
cleanup() { kill "${server:-0}" 2>/dev/null || true; rm -rf "$root" "$log" "$certs" "$local"; }
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
if [ "$tls" = 1 ]; then
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" -keyout "$certs/key.pem" -out "$certs/cert.pem" 2>/dev/null
  cat "$certs/cert.pem" "$certs/key.pem" >"$certs/demo.pem"
  /usr/bin/python3 - "$root" "$certs/demo.pem" >"$log" 2>&1 <<'PY' &
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer
root, pem = sys.argv[1], sys.argv[2]
authorizer = DummyAuthorizer()
authorizer.add_anonymous(root, perm="elradfmwMT")
TLS_FTPHandler.authorizer = authorizer
TLS_FTPHandler.certfile = pem
TLS_FTPHandler.tls_control_required = True
TLS_FTPHandler.tls_data_required = True
TLS_FTPHandler.passive_ports = range(30000, 30101)
FTPServer(("127.0.0.1", 2121), TLS_FTPHandler).serve_forever()
PY
  server=$!
else
  /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p 2121 -w -d "$root" -r 30000-30100 >"$log" 2>&1 &
  server=$!
fi
up=0
for _ in $(seq 50); do
  if ! kill -0 "$server" 2>/dev/null; then break; fi
  if (exec 3<>/dev/tcp/127.0.0.1/2121) 2>/dev/null; then up=1; break; fi
  sleep 0.1
done
# Only our own server, still running, counts as started (another program may have taken the port).
if [ "$up" != 1 ] || ! kill -0 "$server" 2>/dev/null; then
  echo "The demo FTP server did not start on 127.0.0.1:2121:" >&2
  cat "$log" >&2
  exit 1
fi
if [ "$tls" = 1 ]; then
  echo "Demo FTP server on ftpes://127.0.0.1:2121 (anonymous, explicit TLS), serving $root"
  echo "Its certificate is its own (the client window asks whether to trust it):"
  openssl x509 -in "$certs/cert.pem" -noout -fingerprint -sha256
else
  echo "Demo FTP server on 127.0.0.1:2121 (anonymous), serving $root"
fi

echo "The program starts in $local (removed when it ends)"

# The parameters window offers this server (its default) whatever the caller's environment says.
cd "$local"
server_name=127.0.0.1:2121
if [ "$tls" = 1 ]; then server_name=ftpes://127.0.0.1:2121; fi
TARNWICK_DEFAULT_SERVER=$server_name "$build/frame/tarnwick"
