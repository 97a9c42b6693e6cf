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
case $user in
german) export LC_ALL=de_DE.UTF-8 ;;
japanese) export LC_ALL=ja_JP.UTF-8 ;;
esac
sh "$(dirname "$0")/../support/start_wine_services.sh" 3
if [ "$user" = decimal-comma ]; then
    wine reg add 'HKCU\Control Panel\International' /v sDecimal /t REG_SZ /d , /f >/dev/null
fi
exec wine "$@"
