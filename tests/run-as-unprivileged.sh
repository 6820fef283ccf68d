#!/bin/sh
# Usage: run-as-unprivileged.sh COMMAND...
# Runs COMMAND as nobody when run as root (through setpriv), else as it is. Exits 77 when that cannot be.
if [ "$(id -u)" -ne 0 ]; then
  exec "$@"
fi
if ! command -v setpriv >/dev/null 2>&1; then
  echo "run-as-unprivileged: setpriv is missing" >&2
  exit 77
fi
# A checkout under a folder only root may enter (such as /root) cannot be run as nobody.
if ! setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$1"; then
  echo "$(basename "$0"): nobody may not run $1 from here, so this case cannot run as an unprivileged user" >&2
  exit 77
fi
exec setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
