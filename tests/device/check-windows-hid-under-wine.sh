#!/bin/sh
# check-windows-hid-under-wine.sh PROBE_EXE EMULATOR [BUILD_DIR]
#
# The Windows HID backend and hot-plug monitor on the emulated controller, under Wine: windows_hid_probe
# moves every report of the controller through the backend (and the emulator's trace shows what reached
# the device, at which length), follows an unplug and a plug through the monitor, lets the open handle go on
# a query-remove, and lists the crowded bench as Linux lists it. BUILD_DIR holds the Wine prefix (default: the probe's folder).
set -eu

if [ $# -lt 2 ]; then
    echo "usage: check-windows-hid-under-wine.sh PROBE_EXE EMULATOR [BUILD_DIR]" >&2
    exit 2
fi
probe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
emulator=$2
if [ ! -x "$emulator" ]; then
    echo "no emulate-controller at $emulator (a Linux build of this tree): nothing to run on"
    exit 77
fi
build=${3:-$(dirname "$probe")}
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../scripts/run-on-emulated-controller-under-wine"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $1" >&2; failed=1; }

# A short answer, the transfers, the hot-plug round, then a query-remove, in one run of the emulator and of Wine.
if ! "$run" --build "$build" --emulator "$emulator" --waiter "$probe" --trace "$work/trace" --apply "answer 1 01 00" \
    -- sh -c 'wine "$0" short && wine "$0" transfers && wine "$0" hotplug && wine "$0" query-remove' "$probe"; then
    fail "the probe's short answer, transfers, hot-plug round or query-remove"
fi

# What reached the controller: the status get answered short, then each report at its own length, although
# the backend hands Wine every set padded to the longest feature report; the 62-byte get goes out padded,
# Wine having refused it short; nothing goes out for the get on the unplugged controller; the status read
# after the plug; the status read before the query-remove and after its veto, none on the handle let go.
cat >"$work/expected" <<'EOF'
get feature 8
get feature 8
get feature 63
get feature 63
set feature 63
get feature 63
get feature 63
set feature 7
set feature 63
set feature 63
get feature 8
get feature 8
get feature 8
EOF
sed -n 's/^[^ ]* \(.*feature.*\)$/\1/p' "$work/trace" >"$work/seen"
if ! diff -u "$work/expected" "$work/seen"; then
    fail "the transfers that reached the controller"
fi

# The crowded bench lists as on Linux: the other product, then the controller's two interfaces, each once,
# in the platform's order; the other vendor's device only under its own vendor.
"$run" --build "$build" --emulator "$emulator" --waiter "$probe" --crowded -- "$probe" list 2e5a 046d \
    >"$work/list" || fail "listing the crowded bench"
sed -n 's/^ *\([0-9a-f]\{4\}:[0-9a-f]\{4\}\) interface=\(-\{0,1\}[0-9]*\) accessible=\([01]\).*/\1 \2 \3/p;s/^\(vendor .*\)$/\1/p' \
    "$work/list" | tr -d '\r' >"$work/listed"
cat >"$work/expected" <<'EOF'
vendor 2e5a: 3 interface(s)
2e5a:0001 0 1
2e5a:7410 0 1
2e5a:7410 1 1
vendor 046d: 1 interface(s)
046d:c52b 0 1
EOF
if ! diff -u "$work/expected" "$work/listed"; then
    fail "the crowded bench's listing"
fi

[ "$failed" = 0 ] && echo "all checks passed"
exit "$failed"
