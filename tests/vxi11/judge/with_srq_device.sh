#!/bin/sh
# Runs a test program beside srq_device (built by build.sh), whose core port it names in
# MORVANE_VXI11_DEVICE_PORT; fails when the program's or the device's checks fail, 77 where
# build.sh cannot build.    with_srq_device.sh WINE PROGRAM [ARGS...]   (WINEPREFIX set)
set -u
wine=$1 work=$(mktemp -d) device=
shift
trap '[ -n "$device" ] && kill $device 2>/dev/null; rm -rf "$work"' EXIT
sh "$(dirname "$0")/build.sh" "$work" || exit $?
"$work/srq_device" 120 >"$work/seen" & device=$!
for _ in $(seq 50); do [ -s "$work/seen" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/seen")
[ -n "$port" ] || { echo "the device named no port"; exit 1; }
MORVANE_VXI11_DEVICE_PORT=$port "$wine" "$@"
tested=$?
wait $device # the session's release ends the device, or its own limit does
judged=$? device=
echo "--- what the device saw:"
tail -n +2 "$work/seen"
[ $tested -eq 0 ] && [ $judged -eq 0 ]
