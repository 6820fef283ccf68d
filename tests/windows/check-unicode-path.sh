#!/bin/sh
# check-unicode-path.sh WINE_ENV BUILD DOORPHONECTL_EXE SCRATCH: a state file named in letters beyond ASCII is
# made and found again under its own name, so Windows' wide command line and file calls are used throughout.
set -eu
wine_env=$1 build=$2 exe=$3 scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch"
state="$scratch/zustand-ünï-€.json"
"$wine_env" "$build" wine "$exe" "--simulate=$state" set audio.dsp 1 >/dev/null
"$wine_env" "$build" wine "$exe" "--simulate=$state" set audio.dsp 0 >/dev/null
[ -f "$state" ] || { echo "no file named $state; the folder holds:"; ls "$scratch"; exit 1; }
got=$("$wine_env" "$build" wine "$exe" "--simulate=$state" get audio.dsp | tr -d "\r")  # lines end in CR LF there
case "$got" in
  *"	0") ;;
  *) echo "read back: $got"; exit 1 ;;
esac
[ "$(ls -A "$scratch" | grep -cv '\.lock$')" -eq 1 ] || { echo "left beside it:"; ls -A "$scratch"; exit 1; }
rm -rf "$scratch"
