#!/bin/sh
# wine_prefix.sh WINE WINESERVER LOG
#
# Makes the wine prefix that WINEPREFIX names and leaves one wine server
# running for it, with the processes wine keeps beside every program
# (services.exe, winedevice.exe), until `WINESERVER -k` ends them after
# the last test. A server of the tests' own would start and stop between
# them: a program that meets one on its way out dies with "recvmsg:
# Connection reset by peer", and the processes it starts keep the output
# of the test that started them open. These run here with no terminal,
# the output of making the prefix going to LOG.
set -u
wine=$1 wineserver=$2 log=$3

# A server left over from an interrupted run.
"$wineserver" -k 2>/dev/null && "$wineserver" -w
mkdir -p "$WINEPREFIX"
if ! "$wineserver" -p </dev/null >/dev/null 2>&1; then
    echo "wine_prefix.sh: $wineserver -p did not start a server for $WINEPREFIX" >&2
    exit 1
fi
if ! "$wine" wineboot --init </dev/null >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
