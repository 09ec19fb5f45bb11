#!/usr/bin/env bash
# Runs a command that may talk to 127.0.0.1 only, and proves that it did: the command runs in a
# network namespace of its own whose loopback is up and whose every other address, IPv4 and IPv6,
# is routed into a tunnel device. What reaches the tunnel is sent nowhere; each TCP or UDP packet
# that arrives there is recorded, listed after the command has ended, and fails the run. Otherwise
# the command's own exit status is passed on. Without /dev/net/tun the namespace has no route beyond
# the loopback at all: the command still reaches nothing else, but attempts are not listed.
# Needs unshare (util-linux), ip (iproute2) and python3, as root (CI) or with user namespaces.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

if [ "${TM_LOOPBACK_ONLY_INSIDE:-}" != 1 ]; then
  flags=(--net)
  [ "$(id -u)" -eq 0 ] || flags+=(--map-root-user)
  if ! unshare "${flags[@]}" true 2>/dev/null; then
    echo "loopback_only: cannot make a network namespace here (unshare ${flags[*]} failed)" >&2
    exit 2
  fi
  TM_LOOPBACK_ONLY_INSIDE=1 exec unshare "${flags[@]}" "$here/$(basename "$0")" "$@"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ip link set lo up
python3 "$here/loopback_only_watch.py" tm-out "$work/sent" "$work/ready" 2>"$work/watch.err" &
watcher=$!
for _ in $(seq 200); do
  [ -e "$work/ready" ] && break
  kill -0 "$watcher" 2>/dev/null || break
  sleep 0.05
done
if [ -e "$work/ready" ]; then
  ip addr add 10.253.0.1/32 dev tm-out
  ip link set tm-out up
  ip route add default dev tm-out
  ip -6 addr add fd00:7a7a::1/128 dev tm-out nodad
  ip -6 route add default dev tm-out
else
  # Without a tunnel device nothing is routed beyond the loopback: attempts fail instead of being
  # listed.
  echo "loopback_only: no tunnel device ($(tr '\n' ' ' <"$work/watch.err")); nothing beyond 127.0.0.1 is reachable," \
    "but attempts are not listed" >&2
fi

status=0
"$@" || status=$?
if [ -e "$work/ready" ]; then
  sleep 0.2 # what the last processes sent reaches the watcher
  kill "$watcher" 2>/dev/null || true
  wait "$watcher" 2>/dev/null || true
  if [ -s "$work/sent" ]; then
    echo "loopback_only: the command sent packets beyond 127.0.0.1:" >&2
    sort "$work/sent" | uniq -c >&2
    exit 3
  fi
  echo "loopback_only: nothing was sent beyond 127.0.0.1"
fi
exit "$status"
