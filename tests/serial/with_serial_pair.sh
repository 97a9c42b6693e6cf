#!/bin/sh
# Runs COMMAND beside two pseudo-terminals joined by socat and mapped to COM<A> and COM<B> in the
# prefix (MORVANE_SERIAL_PAIR=A,B; MORVANE_SERIAL_DEVICES their Linux paths; MORVANE_SERIAL_PAIR_PROCESS
# socat's). Skipped (77) without socat.   with_serial_pair.sh A B WINE COMMAND [ARGS...]
set -u
a=$1 b=$2 wine=$3
shift 3
command -v socat >/dev/null || { echo "socat is not installed"; exit 77; }
work=$(mktemp -d)
ports='HKLM\Software\Wine\Ports'
socat pty,raw,echo=0,link="$work/tty$a" pty,raw,echo=0,link="$work/tty$b" &
pair=$!
trap '"$wine" reg delete "$ports" /v COM$a /f >/dev/null 2>&1; "$wine" reg delete "$ports" /v COM$b /f >/dev/null 2>&1
      kill $pair 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -e "$work/tty$a" ] && [ -e "$work/tty$b" ] && break; sleep 0.1; done
[ -e "$work/tty$b" ] || { echo "socat made no pair"; exit 1; }
"$wine" reg add "$ports" /v COM$a /d "$work/tty$a" /f >/dev/null &&
  "$wine" reg add "$ports" /v COM$b /d "$work/tty$b" /f >/dev/null || exit 1
wineserver -k # the prefix's services start again, and map the ports
sh "$(dirname "$0")/../support/start_wine_services.sh" 300
MORVANE_SERIAL_PAIR=$a,$b MORVANE_SERIAL_DEVICES="$work/tty$a,$work/tty$b" MORVANE_SERIAL_PAIR_PROCESS=$pair "$@"
