#!/bin/sh
# Usage: check-without-display.sh DOORPHONECONFIG
# The window started where no display can be opened: one line on standard error that says so and names
# what works without a display, nothing on standard output, and exit 1 (not Qt's text and abort, 134).
out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
err=$(timeout 20 "$1" --simulate 2>&1 >"$out" </dev/null)
rc=$?
printf '%s\n' "$err"
status=0
[ "$rc" -eq 1 ] || { echo "FAIL: exit $rc, not 1" >&2; status=1; }
[ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || { echo "FAIL: more than one line" >&2; status=1; }
case "$err" in
  "doorphoneconfig: the window needs a display"*"try doorphonectl --simulate show"*) ;;
  *) echo "FAIL: the line does not say that a display is needed and what to try" >&2; status=1 ;;
esac
[ ! -s "$out" ] || { echo "FAIL: something on standard output" >&2; status=1; }
exit $status
