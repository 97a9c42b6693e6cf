#!/usr/bin/env bash
# run_in_own_prefix.sh BASE-PREFIX PREFIX decimal-comma|german|japanese PROGRAM: runs PROGRAM in a
# copy of the tests' prefix for a user of US English with a "," decimal separator, German or Japanese.
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
