#!/bin/sh
# fmtio's shell over HiSLIP as GOLDEN shows it, its traffic captured and judged by tshark and capture_check.py;
# skipped where tshark or the right to capture is missing.   wire_test.sh GOLDEN  (WINE, BUILD_DIR)
set -u
here=$(cd "$(dirname "$0")" && pwd)
bin=$BUILD_DIR/bin
work=$(mktemp -d)
server= capture=
trap 'kill $server $capture 2>/dev/null; [ -n "${KEEP:-}" ] && cp "$work/capture.pcapng" "$KEEP"; rm -rf "$work"' EXIT
command -v tshark >/dev/null || { echo "tshark is not installed"; exit 77; }

${WINE:-wine} "$bin/instrument-sim.exe" --hislip --port 0 --seconds 120 >"$work/port" 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/port" | tr -d '\r')
[ -n "$port" ] || { echo "instrument-sim did not start"; cat "$work/port"; exit 1; }

tshark -i lo -f "tcp port $port" -w "$work/capture.pcapng" -q >"$work/tshark.log" 2>&1 &
capture=$!
for _ in $(seq 100); do grep -q "Capturing on" "$work/tshark.log" && break; sleep 0.1; done
grep -q "Capturing on" "$work/tshark.log" || { echo "cannot capture on the loopback:"; cat "$work/tshark.log"; exit 77; }

resource="TCPIP::127.0.0.1::hislip0,$port::INSTR"
sed -e 's/^\[hislip\] //' -e '/^\[[a-z]*\] /d' "$1" >fmtio_shell_hislip.txt
RESOURCE_SHOWN_AS=$resource sh "$here/../fmtio/transcript.sh" fmtio_shell_hislip.txt echoed - -- \
  "$bin/fmtio.exe" --dll "$bin/Morvane.dll" -r "$resource" shell --echo
transcript=$?
sleep 0.5 # the last segments reach the capture
kill -INT $capture && wait $capture; capture=
tshark -r "$work/capture.pcapng" -d "tcp.port==$port,hislip" -Y "hislip || _ws.malformed" -T json \
  >"$work/decoded.json" 2>"$work/decode.log" || { cat "$work/decode.log"; exit 1; }
python3 "$here/capture_check.py" "$port" <"$work/decoded.json" || exit 1
exit $transcript
