#!/bin/sh
# registered.sh BIN TRANSCRIPT ARGUMENTS...: installs as docs/installing.md says, then runs TRANSCRIPT.
set -eu
bin=$1
shift
${WINE:-wine} "$bin/register_typelib.exe" "$bin/visacom.tlb" >/dev/null
${WINE:-wine} regsvr32 /s "$bin/Morvane.dll"
${WINE:-wine} regsvr32 /s "$bin/MorvaneSessions.dll"
exec sh "$@"
