#!/bin/sh
# Builds srq_device and srq_judge in DIR from judge/*.x with the distribution's rpcgen and libtirpc;
# exit code 77 without rpcgen, a C compiler or libtirpc's headers.
#
#   build.sh DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
compiler=$(command -v cc || command -v gcc)
if ! command -v rpcgen >/dev/null || [ -z "$compiler" ] || [ ! -e /usr/include/tirpc/rpc/rpc.h ]; then
  echo "rpcgen, a C compiler or libtirpc's headers are missing: skipped"
  exit 77
fi
cp "$here/vxi11_core.x" "$here/vxi11_intr.x" "$1/" && cd "$1" || exit 1
for name in vxi11_core vxi11_intr; do
  rpcgen -h -o $name.h $name.x && rpcgen -c -o ${name}_xdr.c $name.x && rpcgen -m -o ${name}_svc.c $name.x || exit 1
done
rpcgen -l -o vxi11_core_clnt.c vxi11_core.x || exit 1
# What rpcgen writes is not ours to keep warning-free: -w.
judge() { "$compiler" -w -I/usr/include/tirpc -I. -o "$@" vxi11_core_xdr.c vxi11_intr_xdr.c -ltirpc; }
judge srq_device "$here/srq_device.c" vxi11_core_svc.c && judge srq_judge "$here/srq_judge.c" vxi11_core_clnt.c vxi11_intr_svc.c
