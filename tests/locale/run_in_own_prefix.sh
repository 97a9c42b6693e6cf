#!/usr/bin/env bash
# Runs a test program in a Wine prefix of its own, copied from the tests' prefix (which tests
# that run at once share), for a user who changed the decimal separator of US English to ","
# (decimal-comma), or whose locale is German (german) or Japanese (japanese).
#
#   run_in_own_prefix.sh BASE-PREFIX PREFIX decimal-comma|german|japanese PROGRAM
set -euo pipefail
base=$1 prefix=$2 user=$3
shift 3
if [ ! -e "$prefix/system.reg" ]; then
    rm -rf "$prefix"
    cp -a "$base" "$prefix"
fi
export WINEPREFIX=$prefix MORVANE_USER_LOCALE=$user
if [ "$user" = german ]; then
    export LC_ALL=de_DE.UTF-8
elif [ "$user" = japanese ]; then
    export LC_ALL=ja_JP.UTF-8
else
    wine reg add 'HKCU\Control Panel\International' /v sDecimal /t REG_SZ /d , /f >/dev/null
fi
exec wine "$@"
