#!/bin/sh
# Usage: check-make-run.sh SOURCE-DIR
# make run where no display can be opened: one line that says so and names what works without a display,
# before anything is installed or built (the build folder is not made). The PATH holds no cmake and no
# apt-get, so a make run that went on would fail at once rather than build.
src=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
for tool in make sh bash env grep timeout dpkg-query id; do
  ln -s "$(command -v "$tool")" "$dir/bin/$tool" || exit 1
done
status=0
for display in "" ":9797"; do
  out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" PATH="$dir/bin" \
    timeout 60 make --no-print-directory -C "$src" run BUILD_DIR="$dir/build" 2>&1)
  rc=$?
  printf 'DISPLAY=%s: %s\n' "$display" "$out"
  [ "$rc" -ne 0 ] || { echo "FAIL: make run ended with 0" >&2; status=1; }
  [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || { echo "FAIL: more than one line" >&2; status=1; }
  case "$out" in
    *"the window needs a display"*"try doorphonectl --simulate show"*) ;;
    *) echo "FAIL: the line does not say that a display is needed and what to try" >&2; status=1 ;;
  esac
  [ ! -e "$dir/build" ] || { echo "FAIL: make run went on to build" >&2; status=1; }
done
exit $status
