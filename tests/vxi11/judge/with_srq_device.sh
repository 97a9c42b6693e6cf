#!/bin/sh
# Runs a test program beside srq_device (a VXI-11 device built from judge/*.x by the
# distribution's rpcgen and libtirpc); MORVANE_VXI11_DEVICE_PORT names its core port. Fails when
# the program or the device's checks fail; skipped (77) without rpcgen, a C compiler or
# libtirpc's headers.
#
#   with_srq_device.sh ROUNDS WINE PROGRAM [ARGS...]      (WINEPREFIX set)
set -u
rounds=$1 wine=$2
shift 2
compiler=$(command -v cc || command -v gcc)
if ! command -v rpcgen >/dev/null || [ -z "$compiler" ] || [ ! -e /usr/include/tirpc/rpc/rpc.h ]; then
  echo "rpcgen, a C compiler or libtirpc's headers are missing: skipped"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
device=
trap '[ -n "$device" ] && kill $device 2>/dev/null; rm -rf "$work"' EXIT
cp "$here/vxi11_core.x" "$here/vxi11_intr.x" "$work/"
(cd "$work" && for name in vxi11_core vxi11_intr; do
   rpcgen -h -o $name.h $name.x && rpcgen -c -o ${name}_xdr.c $name.x || exit 1
 done &&
 rpcgen -m -o vxi11_core_svc.c vxi11_core.x &&
 # What rpcgen writes is not ours to keep warning-free: -w.
 "$compiler" -w -I/usr/include/tirpc -I. -o srq_device "$here/srq_device.c" vxi11_core_xdr.c vxi11_intr_xdr.c \
   vxi11_core_svc.c -ltirpc) || exit 1
"$work/srq_device" "$rounds" 120 >"$work/seen" &
device=$!
for _ in $(seq 50); do [ -s "$work/seen" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/seen")
[ -n "$port" ] || { echo "the device named no port"; exit 1; }
MORVANE_VXI11_DEVICE_PORT=$port "$wine" "$@"
tested=$?
# The session's release ends the device; one that never came ends it within its own limit.
wait $device
judged=$?
device=
echo "--- what the device saw:"
tail -n +2 "$work/seen"
[ $tested -eq 0 ] && [ $judged -eq 0 ]
