#!/bin/sh
# fmtio's shell over a serial pair (with_serial_pair.sh) to instrument-sim --serial as GOLDEN shows it,
# its [serial] lines kept; then find.   fmtio_over_serial.sh GOLDEN  (WINE, BUILD_DIR, MORVANE_SERIAL_PAIR)
set -u
here=$(cd "$(dirname "$0")" && pwd)
bin=$BUILD_DIR/bin
mine=${MORVANE_SERIAL_PAIR%,*} theirs=${MORVANE_SERIAL_PAIR#*,}
out=$(mktemp)
${WINE:-wine} "$bin/instrument-sim.exe" --serial COM$theirs --seconds 60 >"$out" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
grep -q "COM$theirs" "$out" || { echo "instrument-sim did not open COM$theirs:"; cat "$out"; exit 1; }
sed -e 's/^\[serial\] //' -e '/^\[[a-z]*\] /d' "$1" >fmtio_shell_serial.txt
RESOURCE_SHOWN_AS=ASRL$mine::INSTR sh "$here/../fmtio/transcript.sh" fmtio_shell_serial.txt echoed - -- \
  "$bin/fmtio.exe" --dll "$bin/Morvane.dll" -r ASRL$mine::INSTR --serial 115200,8N1 shell --echo || exit 1
# find lists the pair's ports among the machine's and asks each who it is: ours answers at 9600 8N1.
found=$(${WINE:-wine} "$bin/fmtio.exe" --dll "$bin/Morvane.dll" find "ASRL?*" --timeout 1000)
echo "$found" | grep -qx "ASRL$mine::INSTR  Morvane,SIM-1,0,1.0" || { echo "find listed:"; echo "$found"; exit 1; }
