#!/bin/sh
# Starts instrument-sim on a free port for one connection, then runs transcript.sh with every
# "@RESOURCE@" argument replaced by the server's resource name.
#
#   over_tcp.sh INSTRUMENT-SIM.EXE TRANSCRIPT ARGUMENTS...
set -u
sim=$1 transcript=$2
shift 2
${WINE:-wine} "$sim" --port 0 --once --seconds 60 >sim_port.txt 2>&1 &
for _ in $(seq 100); do [ -s sim_port.txt ] && break; sleep 0.1; done
port=$(head -1 sim_port.txt | tr -d '\r')
resource="TCPIP::127.0.0.1::$port::SOCKET"
for argument in "$@"; do
  [ "$argument" = @RESOURCE@ ] && argument=$resource
  set -- "$@" "$argument"
  shift
done
RESOURCE_SHOWN_AS="$resource" sh "$transcript" "$@"
