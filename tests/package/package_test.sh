#!/usr/bin/env bash
# Installs the Windows package as a user does, in a Wine prefix of its own copied from one
# that nothing was installed in, and checks what install.cmd and uninstall.cmd leave.
#
#   package_test.sh fresh|standard|broken ZIP CLIENT BASE-PREFIX PREFIX
#
# fresh: install, a session through the registered classes alone against instrument-sim,
# uninstall: no key of either server left, the stand-in gone too. standard: the same where the
# standard type library was registered beforehand from another folder: it stays registered.
# broken: without Morvane.dll install.cmd stops at its first step and registers nothing; with a
# Morvane.dll that cannot load it stops at the third, and uninstall.cmd clears what it did.
set -euo pipefail
case=$1 zip=$2 client=$3 base=$4
export WINEPREFIX=$5
fail() { echo "FAIL ($case): $*" >&2; exit 1; }
rm -rf "$WINEPREFIX"
cp -a "$base" "$WINEPREFIX"
python3 -m zipfile -e "$zip" "$WINEPREFIX/drive_c"
folder=$WINEPREFIX/drive_c/Morvane
marker=$folder/visacom-registered-by-install.txt

# run SCRIPT CODE: runs C:\Morvane\SCRIPT through cmd, which must exit with CODE.
run() {
  local code=0
  wine cmd /c "C:\\Morvane\\$1" >"$WINEPREFIX/output.txt" 2>&1 || code=$?
  output=$(tr -d '\r' <"$WINEPREFIX/output.txt")
  printf '%s\n' "$output"
  [ "$code" = "$2" ] || fail "$1 exited with $code, not $2"
}
says() { grep -qxF -- "$1" <<<"$output" || fail "no line: $1"; }

server_keys=(VISA.Tellurix VISA.Tellurix.1 Morvane.ResourceManager Morvane.ResourceManager.1
  'CLSID\{db8cbf1d-d6d3-11d4-aa51-00a024ee30bd}' 'CLSID\{31b02d3b-1942-4e5a-a9bd-16d45f2023e0}'
  'TypeLib\{709F7EC2-AB81-11D4-98E6-00108301CB39}' 'TypeLib\{1F3DD6C7-47C1-4125-B802-BBAD418BC165}'
  'Interface\{8B83C8AC-266B-42F0-9372-CED9E428B6CE}' 'Interface\{DEACD162-3471-4951-B18B-92178665F7AA}')
standard_keys=('TypeLib\{DB8CBF00-D6D3-11D4-AA51-00A024EE30BD}'
  'Interface\{DB8CBF05-D6D3-11D4-AA51-00A024EE30BD}' 'Interface\{DB8CBF1A-D6D3-11D4-AA51-00A024EE30BD}')
# keys [+|-]KEY...: each key of HKEY_CLASSES_ROOT there (+) or not (-).
keys() { wine "$client" keys "$@" || fail "registry keys as listed above"; }

# A session with instrument-sim from the package, on a port it picked, through the registered
# classes: the client names only their program identifiers.
session() {
  local ports=$WINEPREFIX/instrument-sim.txt sim
  wine 'C:\Morvane\instrument-sim.exe' --port 0 --once --seconds 60 >"$ports" 2>&1 &
  sim=$!
  for _ in $(seq 300); do [ -s "$ports" ] && break; sleep 0.1; done
  port=$(head -1 "$ports" | tr -d '\r')
  [[ $port =~ ^[0-9]+$ ]] || { kill "$sim"; fail "instrument-sim gave no port: $(cat "$ports")"; }
  output=$(wine "$client" query "TCPIP::127.0.0.1::$port::SOCKET" | tr -d '\r') || { kill "$sim"; fail "the session"; }
  printf '%s\n' "$output"
  wait "$sim" || fail "instrument-sim exited with $?"
  says 'answer: Morvane,SIM-1,0,1.0'
  says 'resource manager: C:\Morvane\MorvaneSessions.dll'
  says 'session: C:\Morvane\MorvaneSessions.dll'
  says 'formatted I/O: C:\Morvane\Morvane.dll'
}

case $case in
fresh)
  run install.cmd 0
  says "Registered visacom.tlb, the standard type library's stand-in."
  [ -f "$marker" ] || fail "install.cmd left no marker"
  session
  run uninstall.cmd 0
  [ ! -e "$marker" ] || fail "uninstall.cmd left the marker"
  keys "${server_keys[@]/#/-}" "${standard_keys[@]/#/-}"
  ;;
standard)
  mkdir "$WINEPREFIX/drive_c/Standard"
  cp "$folder/visacom.tlb" "$folder/register_typelib.exe" "$WINEPREFIX/drive_c/Standard"
  wine 'C:\Standard\register_typelib.exe' 'C:\Standard\visacom.tlb' || fail "registering the standard library"
  run install.cmd 0
  says "The VISA COM standard type library is already registered: leaving it as it is."
  [ ! -e "$marker" ] || fail "install.cmd left a marker"
  session
  run uninstall.cmd 0
  keys "${server_keys[@]/#/-}" "${standard_keys[@]/#/+}"
  ;;
broken)
  rm "$folder/Morvane.dll"
  run install.cmd 1
  says 'install.cmd: step 1 of 4, checking that the package is whole, failed: Morvane.dll is not in C:\Morvane\'
  [ ! -e "$marker" ] || fail "install.cmd left a marker"
  keys "${server_keys[@]/#/-}" "${standard_keys[@]/#/-}"
  echo 'not a DLL' >"$folder/Morvane.dll"
  run install.cmd 3
  grep -q '^install.cmd: step 3 of 4, registering Morvane.dll, failed' <<<"$output" || fail "no message of step 3"
  [ -f "$marker" ] || fail "install.cmd left no marker"
  keys "-Morvane.ResourceManager" "${standard_keys[@]/#/+}"
  run uninstall.cmd 0
  keys "${server_keys[@]/#/-}" "${standard_keys[@]/#/-}"
  ;;
*) fail "no such case" ;;
esac
# A passing case leaves no prefix behind (a failing one keeps it to look into).
wineserver -w
rm -rf "$WINEPREFIX"
echo "package test $case: passed"
