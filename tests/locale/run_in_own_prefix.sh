#!/usr/bin/env bash
# Runs a test program in a Wine prefix of its own, copied from the tests' prefix, whose user has
# changed the decimal separator to ",": the tests' prefix is shared by tests that run at once.
set -euo pipefail
base=$1 prefix=$2
shift 2
if [ ! -e "$prefix/system.reg" ]; then
    rm -rf "$prefix"
    cp -a "$base" "$prefix"
fi
export WINEPREFIX=$prefix
wine reg add 'HKCU\Control Panel\International' /v sDecimal /t REG_SZ /d , /f >/dev/null
exec wine "$@"
