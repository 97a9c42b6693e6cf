#!/usr/bin/env bash
# The Windows package installed as a user does, in a copy of a clean prefix: what install.cmd and
# uninstall.cmd leave.   package_test.sh fresh|standard|broken ZIP EXAMPLE BASE-PREFIX PREFIX
# standard: the standard library registered beforehand stays; broken: install.cmd stops at step 1 or 3.
set -euo pipefail
case=$1 zip=$2 example=$3 base=$4
export WINEPREFIX=$5
fail() { echo "FAIL ($case): $*" >&2; exit 1; }
rm -rf "$WINEPREFIX"
cp -a "$base" "$WINEPREFIX"
python3 -m zipfile -e "$zip" "$WINEPREFIX/drive_c"
# The prefix's server and services start with a throwaway program, not with the first one checked.
sh "$(dirname "$0")/../support/start_wine_services.sh" 3
folder=$WINEPREFIX/drive_c/Morvane
marker=$folder/visacom-registered-by-install.txt

run() { # SCRIPT CODE [LINE]: C:\Morvane\SCRIPT through cmd must exit with CODE (and print LINE)
  local code=0
  wine cmd /c "C:\\Morvane\\$1" >"$WINEPREFIX/output.txt" 2>&1 || code=$?
  output=$(tr -d '\r' <"$WINEPREFIX/output.txt")
  printf '%s\n' "$output"
  [ "$code" = "$2" ] || fail "$1 exited with $code, not $2"
  [ -z "${3:-}" ] || grep -qxF -- "$3" <<<"$output" || fail "no line: $3"
}

server_keys=(VISA.Tellurix VISA.Tellurix.1 Morvane.ResourceManager Morvane.ResourceManager.1
  'CLSID\{db8cbf1d-d6d3-11d4-aa51-00a024ee30bd}' 'CLSID\{31b02d3b-1942-4e5a-a9bd-16d45f2023e0}'
  'TypeLib\{709F7EC2-AB81-11D4-98E6-00108301CB39}' 'TypeLib\{1F3DD6C7-47C1-4125-B802-BBAD418BC165}'
  'Interface\{8B83C8AC-266B-42F0-9372-CED9E428B6CE}' 'Interface\{DEACD162-3471-4951-B18B-92178665F7AA}')
standard_keys=('TypeLib\{DB8CBF00-D6D3-11D4-AA51-00A024EE30BD}'
  'Interface\{DB8CBF05-D6D3-11D4-AA51-00A024EE30BD}' 'Interface\{DB8CBF1A-D6D3-11D4-AA51-00A024EE30BD}')
keys() { # [+|-]KEY[=DEFAULT]...: each key of HKEY_CLASSES_ROOT there (+, with that default) or not (-)
  wineserver -w
  python3 "$(dirname "$0")/registry_keys.py" "$WINEPREFIX/system.reg" "$@" || fail "registry keys as listed above"
}
# uninstalled +|-: none of the server's keys, the standard library's there (+) or not (-).
uninstalled() { keys "${server_keys[@]/#/-}" "${standard_keys[@]/#/$1}"; }
marker() { [ "$@" "$marker" ] || fail "the marker that install.cmd leaves is not [ $* ]"; }

example() { # RESOURCE: the identification, five readings and 1000 points within about -0.6 V and 0.9 V
  output=$(wine "$example" "$1" 2>&1 | tr -d '\r') || fail "the example on $1: $output"
  printf '%s\n' "$output"
  awk '/^Identification: Morvane,SIM-1,0,1\.0$/ { id = 1 }
       /^Readings:/ { readings = (NF == 6); for (i = 2; i <= NF; i++) if ($i + 0 < 1 || $i + 0 > 1.5) readings = 0 }
       /^Waveform: +1000 points from / { wave = ($5 > -0.7 && $5 < -0.4 && $8 > 0.7 && $8 < 1) }
       END { exit !(id && readings && wave) }' <<<"$output" || fail "the example's output on $1"
}

session() { # through the registered classes alone: SIM, and the package's instrument-sim
  local ports=$WINEPREFIX/instrument-sim.txt sim
  example SIM
  wine 'C:\Morvane\instrument-sim.exe' --port 0 --once --seconds 60 >"$ports" 2>&1 &
  sim=$!
  for _ in $(seq 300); do [ -s "$ports" ] && break; sleep 0.1; done
  port=$(head -1 "$ports" | tr -d '\r')
  [[ $port =~ ^[0-9]+$ ]] || { kill "$sim"; fail "instrument-sim gave no port: $(cat "$ports")"; }
  example "TCPIP::127.0.0.1::$port::SOCKET"
  wait "$sim" || fail "instrument-sim exited with $?"
  keys '+CLSID\{db8cbf1d-d6d3-11d4-aa51-00a024ee30bd}\InprocServer32=C:\Morvane\Morvane.dll' \
    '+CLSID\{31b02d3b-1942-4e5a-a9bd-16d45f2023e0}\InprocServer32=C:\Morvane\MorvaneSessions.dll'
}

case $case in
fresh)
  run install.cmd 0 "Registered visacom.tlb, the standard type library's stand-in."
  marker -f
  session
  output=$(wine "$example" NOWHERE 2>&1 | tr -d '\r') && fail "the example took NOWHERE"
  grep -q '^Open failed: HRESULT 0x80040012$' <<<"$output" && grep -q 'NOWHERE.*not of a supported form' <<<"$output" ||
    fail "the example's failure on NOWHERE: $output"
  run uninstall.cmd 0
  marker ! -e
  uninstalled -
  ;;
standard)
  mkdir "$WINEPREFIX/drive_c/Standard"
  cp "$folder/visacom.tlb" "$folder/register_typelib.exe" "$WINEPREFIX/drive_c/Standard"
  wine 'C:\Standard\register_typelib.exe' 'C:\Standard\visacom.tlb' || fail "registering the standard library"
  run install.cmd 0 "The VISA COM standard type library is already registered: leaving it as it is."
  marker ! -e
  session
  run uninstall.cmd 0
  uninstalled +
  ;;
broken)
  rm "$folder/Morvane.dll"
  run install.cmd 1 'install.cmd: step 1 of 4, checking that the package is whole, failed: Morvane.dll is not in C:\Morvane\'
  marker ! -e
  uninstalled -
  echo 'not a DLL' >"$folder/Morvane.dll"
  run install.cmd 3
  grep -q '^install.cmd: step 3 of 4, registering Morvane.dll, failed' <<<"$output" || fail "no message of step 3"
  marker -f
  keys "-Morvane.ResourceManager" "${standard_keys[@]/#/+}"
  run uninstall.cmd 0
  uninstalled -
  ;;
*) fail "no such case" ;;
esac
# A failing case keeps its prefix to look into.
wineserver -w
rm -rf "$WINEPREFIX"
echo "package test $case: passed"
