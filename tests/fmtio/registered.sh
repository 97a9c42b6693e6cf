#!/bin/sh
# Installs the component and the resource manager in the prefix as docs/installing.md says (the
# standard library first), then runs transcript.sh: fmtio reaches both by their program identifiers.
#
#   registered.sh BIN TRANSCRIPT ARGUMENTS...
set -eu
bin=$1
shift
${WINE:-wine} "$bin/register_typelib.exe" "$bin/visacom.tlb" >/dev/null
${WINE:-wine} regsvr32 /s "$bin/Morvane.dll"
${WINE:-wine} regsvr32 /s "$bin/MorvaneSessions.dll"
exec sh "$@"
