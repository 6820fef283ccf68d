#!/bin/sh
# compare-wire.sh SOURCE_DIR LINUX_BUILD WINDOWS_BUILD PROBE_EXE SCRATCH
#
# One session with doorphonectl (session.sh) run twice on the emulated controller: by the Linux build (hidapi on
# hidraw) and by the Windows build under Wine (SetupAPI and hid.dll, through Wine's HID bus on the same kind of
# hidraw node). The wire logs must be the same byte for byte, and so must what the sessions printed, the
# profiles they exported and the controller's memory at the end. Skips (77) without a Linux build to compare.
set -eu
source_dir=$1 linux=$2 windows=$3 probe=$4 scratch=$5
emulator=$linux/emulate-controller
if [ ! -x "$emulator" ] || [ ! -x "$linux/doorphonectl" ]; then
    echo "no Linux build with emulate-controller at $linux: nothing to compare with"
    exit 77
fi
session=$source_dir/tests/windows/session.sh
rm -rf "$scratch"
mkdir -p "$scratch/linux" "$scratch/windows"

(cd "$scratch/linux" && "$emulator" --state state.json -- "$session" "$linux/doorphonectl") ||
    { echo "the Linux build's session failed"; exit 1; }
(cd "$scratch/windows" &&
    "$source_dir/scripts/run-on-emulated-controller-under-wine" --build "$windows" --emulator "$emulator" --waiter "$probe" \
        --state state.json -- "$session" wine "$windows/doorphonectl.exe") ||
    { echo "the Windows build's session failed; its wire log so far:"; cat "$scratch/windows/wire.log"; exit 1; }

# Windows ends printed lines with CR LF, and names the controller by its interface path (show's first line);
# the files the program writes are the same bytes on both.
for side in linux windows; do
    for f in show.txt get.txt; do
        tr -d '\r' <"$scratch/$side/$f" | sed '/^Controller /d' >"$scratch/$side/$f.cmp"
        mv "$scratch/$side/$f.cmp" "$scratch/$side/$f"
    done
done
status=0
for f in wire.log profile.json state.json show.txt get.txt; do
    if ! cmp "$scratch/linux/$f" "$scratch/windows/$f"; then
        diff "$scratch/linux/$f" "$scratch/windows/$f" | head -20
        status=1
    fi
done
[ "$status" = 0 ] && echo "the same $(wc -l <"$scratch/linux/wire.log") transfers on both"
exit "$status"
