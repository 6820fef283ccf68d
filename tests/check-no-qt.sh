#!/usr/bin/env bash
# Fails when any of the given binaries loads a Qt library.
status=0
for bin in "$@"; do
  if ldd "$bin" | grep -i 'libQt'; then
    echo "$bin links Qt" >&2
    status=1
  fi
done
exit $status
