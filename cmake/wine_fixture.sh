#!/bin/sh
# wine_fixture.sh start|stop WINE: keeps one wineserver alive for the
# Windows suite, so that each run of a program does not pay for a new one.
# WINEPREFIX and WINEDEBUG come from the test environment.
set -e
wine=$2
server=$(dirname "$(readlink -f "$(command -v "$wine")")")/wineserver
[ -x "$server" ] || server=wineserver
case $1 in
  start)
    mkdir -p "$WINEPREFIX"
    # One left running (a run stopped before its stop) serves as well.
    "$server" -p < /dev/null > /dev/null 2>&1 || true
    # The first start creates the prefix; do it here, not in a timed test.
    "$wine" cmd /c exit 0 < /dev/null > /dev/null 2>&1 || true
    ;;
  stop)
    "$server" -k < /dev/null > /dev/null 2>&1 || true
    # Gone before anything starts another for this prefix.
    "$server" -w < /dev/null > /dev/null 2>&1 || true
    ;;
esac
