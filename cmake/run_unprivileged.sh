#!/bin/sh
# run_unprivileged.sh SETPRIV PROGRAM [ARG...]: runs PROGRAM as uid and gid 65534 when
# called as root; called by anyone else there is no one to become, and it exits 77, which
# CTest reports as a skipped test.
[ "$(id -u)" = 0 ] || { echo "skipped: runs only when the tests run as root"; exit 77; }
setpriv=$1
shift
exec "$setpriv" --reuid=65534 --regid=65534 --clear-groups -- "$@"
