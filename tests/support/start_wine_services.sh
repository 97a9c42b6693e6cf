#!/bin/sh
# start_wine_services.sh SECONDS: starts the server of $WINEPREFIX, to stay SECONDS after its last
# program ends, and Wine's own services, with their output discarded. The first program of a server
# starts the services, which then write into that program's output: a fault of theirs (Wine's
# ntoskrnl.exe has faulted once) would read as a crash of whichever test came first.
wineserver -p"$1" </dev/null >/dev/null 2>&1
"${WINE:-wine}" cmd /c exit </dev/null >/dev/null 2>&1
exit 0
