#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need (only those missing).
set -euo pipefail

packages=(
  cmake g++ make pkg-config binutils
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev googletest
  libssl-dev openssl
  python3 python3-pyftpdlib python3-openssl vsftpd curl lftp
  xvfb xauth clang-format
  dpkg-dev file
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# proftpd and pure-ftpd, for the tests: both conflict with vsftpd as packages (each provides
# ftp-server), so their packages are only unpacked, into a folder of their own that the test fixtures
# look in, and the libraries they link are installed. Again only when missing or of another version.
servers_dir=/opt/nimbo-test-servers
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
for server in proftpd-core pure-ftpd; do
  version=$(apt-cache policy "$server" | awk '/Candidate:/ {print $2}')
  if [ -z "$version" ] || [ "$version" = "(none)" ]; then
    "${sudo_cmd[@]}" apt-get update -qq
    version=$(apt-cache policy "$server" | awk '/Candidate:/ {print $2}')
  fi
  if [ -z "$version" ] || [ "$version" = "(none)" ]; then
    echo "No package $server in the package lists: the tests on it will fail." >&2
    exit 1
  fi
  if [ "$(cat "$servers_dir/$server/VERSION" 2>/dev/null)" = "$version" ]; then continue; fi
  echo "Unpacking $server $version into $servers_dir/$server"
  work=$(mktemp -d)
  (cd "$work" && apt-get download -qq -o APT::Sandbox::User=root "$server=$version")
  deb=$(ls "$work"/*.deb)
  # The libraries it links (the first choice of each dependency named lib*), installed as usual.
  libs=()
  while read -r dep; do
    name=${dep%% *}
    name=${name%%:*}
    case "$name" in lib*) dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed" ||
      libs+=("$name") ;;
    esac
  done < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/^ *//')
  if ((${#libs[@]})); then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${libs[@]}"
  fi
  "${sudo_cmd[@]}" rm -rf "$servers_dir/$server.new"
  "${sudo_cmd[@]}" mkdir -p "$servers_dir/$server.new"
  "${sudo_cmd[@]}" dpkg-deb -x "$deb" "$servers_dir/$server.new"
  echo "$version" | "${sudo_cmd[@]}" tee "$servers_dir/$server.new/VERSION" >/dev/null
  "${sudo_cmd[@]}" rm -rf "$servers_dir/$server"
  "${sudo_cmd[@]}" mv "$servers_dir/$server.new" "$servers_dir/$server"
  rm -rf "$work"
done
