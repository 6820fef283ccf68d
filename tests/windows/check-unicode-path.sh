#!/bin/sh
# check-unicode-path.sh WINE_ENV BUILD DOORPHONECTL_EXE SCRATCH: a state file named in letters beyond ASCII is
# made and found again under its own name, and a profile exported into a folder named "José" is imported and
# provisioned from there, given as a Unix path and as a Windows one, so Windows' wide command line and file calls
# are used throughout (no check of a path goes through the ANSI code page).
set -eu
wine_env=$1 build=$2 exe=$3 scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch/José"
failed=0
fail() { printf "FAIL: %s\n" "$1" >&2; failed=1; }
run() { "$wine_env" "$build" wine "$exe" "$@"; }
state="$scratch/zustand-ünï-€.json"
run "--simulate=$state" set audio.dsp 1 >/dev/null
run "--simulate=$state" set audio.dsp 0 >/dev/null
[ -f "$state" ] || { echo "no file named $state; the folder holds:"; ls "$scratch"; exit 1; }
got=$(run "--simulate=$state" get audio.dsp | tr -d "\r")  # lines end in CR LF there
case "$got" in
  *"	0") ;;
  *) fail "read back: $got" ;;
esac
[ "$(ls -A "$scratch" | grep -v '\.lock$' | grep -cv '^José$')" -eq 1 ] || { fail "left beside it:"; ls -A "$scratch"; }

# The profile under José: written, then read back by import and provision from the same folder.
profile="$scratch/José/profil-€.json"
windows_profile="Z:$(printf '%s' "$profile" | tr / '\\')"
run "--simulate=$state" export "$profile" || fail "export to $profile"
[ -s "$profile" ] || fail "no profile at $profile"
run "--simulate=$state" set audio.dsp 1 >/dev/null
for path in "$profile" "$windows_profile"; do
    run "--simulate=$state" import --dry-run "$path" >"$scratch/said" 2>&1 || { fail "import --dry-run $path"; cat "$scratch/said"; }
done
run "--simulate=$state" import "$windows_profile" >"$scratch/said" 2>&1 || { fail "import $windows_profile"; cat "$scratch/said"; }
got=$(run "--simulate=$state" get audio.dsp | tr -d "\r")
case "$got" in
  *"	0") ;;
  *) fail "after the import: $got" ;;
esac
run "--simulate=$state" provision --once "$windows_profile" </dev/null >"$scratch/said" 2>&1 ||
    { fail "provision $windows_profile"; cat "$scratch/said"; }
[ "$failed" = 0 ] && rm -rf "$scratch"
exit "$failed"
