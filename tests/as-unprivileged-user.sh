#!/bin/sh
# Usage: as-unprivileged-user.sh EMULATOR EMULATOR-OPTIONS... -- COMMAND...
# Runs COMMAND inside the emulator as a user without root's rights (see run-as-unprivileged.sh, whose
# exit 77, skipped, comes back through the emulator).
emulator=$1
shift
options=
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
  options="$options $1"
  shift
done
[ "$1" = "--" ] && shift
# The programs must be reachable and the scratch folder writable for nobody.
export HOME=/tmp TMPDIR=/tmp
exec "$emulator" $options -- "$(dirname "$0")/run-as-unprivileged.sh" "$@"
