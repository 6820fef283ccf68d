#!/bin/sh
# Usage: as-unprivileged-user.sh EMULATOR EMULATOR-OPTIONS... -- COMMAND...
# Runs COMMAND inside the emulator as a user without root's rights: as nobody when run as root (through
# setpriv), else as the user running it. Exits 77 (skipped) when that cannot be done.
emulator=$1
shift
options=
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
  options="$options $1"
  shift
done
[ "$1" = "--" ] && shift
if [ "$(id -u)" -ne 0 ]; then
  exec "$emulator" $options -- "$@"
fi
if ! command -v setpriv >/dev/null 2>&1; then
  echo "as-unprivileged-user: setpriv is missing, so this case cannot run as an unprivileged user" >&2
  exit 77
fi
# The programs must be reachable and the scratch folder writable for nobody.
export HOME=/tmp TMPDIR=/tmp
# A checkout under a folder only root may enter (such as /root) cannot be run as nobody.
if ! setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$1"; then
  echo "$(basename "$0"): nobody may not run $1 from here, so this case cannot run as an unprivileged user" >&2
  exit 77
fi
exec "$emulator" $options -- setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
