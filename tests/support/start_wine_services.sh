#!/bin/sh
# start_wine_services.sh SECONDS: the prefix's server (kept SECONDS after its last program) and services,
# their output discarded: else a fault of theirs would read as a crash of whichever test came first.
wineserver -p"$1" </dev/null >/dev/null 2>&1
"${WINE:-wine}" cmd /c exit </dev/null >/dev/null 2>&1
exit 0
