#!/bin/sh
# over_tcp.sh SERVER TRANSCRIPT GOLDEN ARGUMENTS...: starts SERVER (instrument-sim with SERVER_OPTIONS,
# or a Python script) for one connection, then TRANSCRIPT with @RESOURCE@ (and @PORTMAPPER@ for --vxi11) filled in.
set -u
server=$1 transcript=$2
shift 2
ports=$(basename "$1").port
rm -f "$ports"
case $server in
  *.py) python3 "$server" >"$ports" 2>&1 & ;;
  *) ${WINE:-wine} "$server" --port 0 --once --seconds 60 ${SERVER_OPTIONS:-} >"$ports" 2>&1 & ;;
esac
for _ in $(seq 100); do [ -s "$ports" ] && break; sleep 0.1; done
read -r port portmapper <"$ports"
portmapper=$(printf '%s' "${portmapper:-}" | tr -d '\r')
resource="TCPIP::127.0.0.1::$(printf '%s' "$port" | tr -d '\r')::SOCKET"
[ -n "$portmapper" ] && resource="TCPIP::127.0.0.1::INSTR"
for argument in "$@"; do
  [ "$argument" = @RESOURCE@ ] && argument=$resource
  [ "$argument" = @PORTMAPPER@ ] && argument=$portmapper
  set -- "$@" "$argument"
  shift
done
RESOURCE_SHOWN_AS="$resource" sh "$transcript" "$@"
