#!/bin/sh
# Runs the example client as a user would: in a Wine prefix of its own (copied from the tests'
# prefix) where the standard type library and both servers are registered, once on the
# simulated instrument and once on instrument-sim over TCP; then on a resource that does not
# exist, which must fail with the HRESULT and the description.
#
#   first_session.sh BASE-PREFIX PREFIX BIN-DIR EXAMPLE.EXE
set -u
base=$1 prefix=$2 bin=$3 example=$4
if [ ! -e "$prefix/system.reg" ]; then
    rm -rf "$prefix"
    cp -a "$base" "$prefix" || exit 1
fi
export WINEPREFIX=$prefix
"${WINE:-wine}" "$bin/register_typelib.exe" "$bin/visacom.tlb" &&
    "${WINE:-wine}" regsvr32 /s "$bin/Morvane.dll" &&
    "${WINE:-wine}" regsvr32 /s "$bin/MorvaneSessions.dll" || { echo "registration failed"; exit 1; }

failed=0
# expect RESOURCE: the run succeeds and prints the identification, five readings and the
# waveform's 1000 points, which the simulated instrument keeps within about -0.6 V and 0.9 V.
expect() {
    output=$("${WINE:-wine}" "$example" "$1" 2>&1)
    status=$?
    output=$(echo "$output" | tr -d '\r')
    echo "$output"
    echo "$output" | awk -v status="$status" '
        /^Identification: Morvane,SIM-1,0,1\.0$/ { id = 1 }
        /^Readings:/ { readings = (NF == 6); for (i = 2; i <= NF; i++) if ($i + 0 < 1 || $i + 0 > 1.5) readings = 0 }
        /^Waveform: +1000 points from / { wave = ($5 > -0.7 && $5 < -0.4 && $8 > 0.7 && $8 < 1) }
        END { exit !(status == 0 && id && readings && wave) }' || { echo "FAILED: $1"; failed=1; }
}
expect SIM

ports=first_session.port
"${WINE:-wine}" "$bin/instrument-sim.exe" --port 0 --once --seconds 60 >"$ports" 2>&1 &
for _ in $(seq 100); do [ -s "$ports" ] && break; sleep 0.1; done
expect "TCPIP::127.0.0.1::$(head -1 "$ports" | tr -d '\r')::SOCKET"
wait

# A resource of no known form: exit code 1, the HRESULT and the manager's description.
output=$("${WINE:-wine}" "$example" NOWHERE 2>&1)
status=$?
output=$(echo "$output" | tr -d '\r')
echo "$output"
[ "$status" = 1 ] && echo "$output" | grep -q '^Open failed: HRESULT 0x80040012$' &&
    echo "$output" | grep -q 'NOWHERE.*not of a supported form' || { echo "FAILED: NOWHERE"; failed=1; }
exit $failed
