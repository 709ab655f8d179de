#!/usr/bin/env bash
# Runs wan_bench in a network namespace of its own, with only its loopback up, and removes the namespace
# afterwards: the relay's ports and the server's passive ports then clash with nothing else on the machine.
#   bench/wan/run.sh [round trip ms] [rounds]      (as root; NIMBO_WAN_NETNS names the namespace)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bench="${NIMBO_WAN_BENCH:-$top/build/bench/wan/wan_bench}"
ns="${NIMBO_WAN_NETNS:-nimbo-wan-$$}"
[ -x "$bench" ] || { echo "build it first: scripts/build.sh" >&2; exit 2; }
ip netns add "$ns"
trap 'ip netns delete "$ns"' EXIT
ip netns exec "$ns" ip link set lo up
ip netns exec "$ns" "$bench" "$@"
