#!/bin/sh
# fmtio find by broadcast, nothing leaving the machine: a client network namespace joined by veth
# pairs to two instrument namespaces running instrument-sim --vxi11 (portmapper on 111); find must
# list and identify both. Skipped (77) where namespaces cannot be made.   broadcast.sh BIN_DIR
set -u
bin=$1
wine=${WINE:-wine}
client=morvane-client-$$
made=""
# No namespace or copied prefix (hundreds of MB each) outlives the test.
cleanup() {
  for prefix in "$WINEPREFIX" "$WINEPREFIX-instrument7" "$WINEPREFIX-instrument8"; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k 2>/dev/null
  done
  for namespace in $made; do
    for pid in $(ip netns pids "$namespace" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    ip netns del "$namespace" 2>/dev/null
  done
  rm -rf "$WINEPREFIX-instrument7" "$WINEPREFIX-instrument8"
}
trap cleanup EXIT
skip() { echo "skipped: $1 (the broadcast test needs root and network namespaces: ip netns, veth)"; exit 77; }
fail() { printf '%s\n' "$@" "Wine's services:"; cat wine-services.out; exit 1; }
namespace() {
  ip netns add "$1" 2>/dev/null || skip "cannot create network namespace $1"
  made="$made $1"
  ip -n "$1" link set lo up || skip "cannot bring up the loopback of $1"
}

namespace "$client"
# Wine's server makes its prefix's sockets: each instrument's namespace gets a copy of the prefix,
# made before the client's server starts, and its server and services started in that namespace.
for network in 7 8; do
  instrument=morvane-inst$network-$$
  namespace "$instrument"
  ip link add "mvc$network-$$" type veth peer name "mvi$network-$$" 2>/dev/null || skip "cannot create a veth pair"
  ip link set "mvc$network-$$" netns "$client" && ip link set "mvi$network-$$" netns "$instrument" &&
    ip -n "$client" addr add "10.231.$network.1/24" dev "mvc$network-$$" &&
    ip -n "$client" link set "mvc$network-$$" up &&
    ip -n "$instrument" addr add "10.231.$network.2/24" dev "mvi$network-$$" &&
    ip -n "$instrument" link set "mvi$network-$$" up || skip "cannot set up the veth pair"
  rm -rf "$WINEPREFIX-instrument$network"
  cp -a "$WINEPREFIX" "$WINEPREFIX-instrument$network" || exit 1
done
ip netns exec "$client" wineserver -p >wine-services.out 2>&1 || exit 1
ip netns exec "$client" "$wine" cmd /c exit >>wine-services.out 2>&1 || exit 1
for network in 7 8; do
  prefix=$WINEPREFIX-instrument$network
  WINEPREFIX=$prefix ip netns exec "morvane-inst$network-$$" wineserver -p >>wine-services.out 2>&1 || exit 1
  WINEPREFIX=$prefix ip netns exec "morvane-inst$network-$$" "$wine" cmd /c exit >>wine-services.out 2>&1 || exit 1
  WINEPREFIX=$prefix ip netns exec "morvane-inst$network-$$" "$wine" "$bin/instrument-sim.exe" --vxi11 \
    --address 0.0.0.0 --port 0 --seconds 60 >"instrument-$network.out" 2>&1 &
done
ports() { tr -d '\r' <"instrument-$1.out" | grep -E '^[0-9]+ [0-9]+$' | head -n 1; }
for network in 7 8; do
  for _ in $(seq 100); do [ -n "$(ports $network)" ] && break; sleep 0.1; done
  [ "$(ports $network | cut -d ' ' -f 2)" = 111 ] || fail "instrument-sim in network $network:" "$(cat instrument-$network.out)"
done

fmtio_find() {
  ip netns exec "$client" "$wine" "$bin/fmtio.exe" --dll "$bin/Morvane.dll" find "$@" 2>&1 | tr -d '\r'
}
found=$(fmtio_find '(SIM|TCPIP?*)' --timeout 2000) # not the machine's own serial ports
expected="SIM  Morvane,SIM-1,0,1.0
TCPIP::10.231.7.2::INSTR  Morvane,SIM-1,0,1.0
TCPIP::10.231.8.2::INSTR  Morvane,SIM-1,0,1.0"
[ "$found" = "$expected" ] || fail "fmtio find by broadcast printed:" "$found" "expected:" "$expected"
# The expression keeps to the names it matches.
found=$(fmtio_find 'TCPIP::10.231.8?*')
[ "$found" = "TCPIP::10.231.8.2::INSTR  Morvane,SIM-1,0,1.0" ] || fail "fmtio find TCPIP::10.231.8?* printed:" "$found"
echo "found by broadcast: $expected"
