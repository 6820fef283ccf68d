#!/bin/sh
# check-window-under-wine.sh SOURCE_DIR LINUX_BUILD WINDOWS_BUILD PROBE_EXE SCRATCH
#
# The window as a technician uses it, twice on the emulated controller, each on an X server of its own (Xvfb)
# and driven with real clicks and keys (xdotool, through the X server's XTEST): by the Linux build (hidapi on
# hidraw) and by doorphoneconfig.exe under Wine through the Windows HID backend (SetupAPI and hid.dll). The
# steps: the window reads the controller; a click into the DTMF password, the keys that replace it and a Tab
# out of it, which writes it; unplug, which shows the disconnected view; plug, which reads again and shows the
# window as before; a click on Install FW and OK to its question (Tab, Space), an install that completes, and the restore
# of the defaults that goes out when the controller returns. The two wire logs must be the same byte for byte.
# What the window shows is compared on the Windows side, from the X server's frame buffer: the view after
# unplug differs from the connected one, and the view after plug is the connected one again.
# DPC_XVFB_DISPLAY names the display both X servers take in turn (else each takes a free one).
# Skips (77) without a Linux build, Xvfb or xdotool.
set -eu
source_dir=$1 linux=$2 windows=$3 probe=$4 scratch=$5
emulator=$linux/emulate-controller
for need in "$emulator" "$linux/doorphoneconfig"; do
    [ -x "$need" ] || { echo "no Linux build with $(basename "$need") at $linux: nothing to compare with"; exit 77; }
done
for tool in Xvfb xdotool python3; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (make test-windows installs it)"; exit 77; }
done
title="Tavrel 7410 Doorphone Configuration Tool"
client_width=664 client_height=501
rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)

fail() { echo "FAILED ($side): $*" >&2; exit 1; }
now() { date +%s; }

# until LIMIT COMMAND...: runs COMMAND every 0.2 s until it succeeds; fails after LIMIT seconds.
until_ok() {
    limit=$1; shift
    end=$(( $(now) + limit ))
    while ! "$@" 2>/dev/null; do
        [ "$(now)" -lt "$end" ] || return 1
        sleep 0.2
    done
}

# The wire log has not grown for two seconds: the window has done what the last step asked.
lines() { [ -f "$dir/wire.log" ] && wc -l <"$dir/wire.log" || echo 0; }
settled() {
    before=$(lines)
    sleep 2
    [ "$(lines)" = "$before" ] && [ "$before" -gt "${1:-0}" ]
}
wait_settled() {  # wait_settled [MORE_THAN]: settled, with more than MORE_THAN transfers logged
    until_ok 120 settled "${1:-0}" || fail "the window did not settle (wire log at $(lines) lines)"
}

# The window's X window, and where its client area (the dialog, 664 x 501) starts in it: Wine draws the frame
# and caption of a window no window manager handles inside that X window; Qt on Linux has no frame there.
find_window() {
    win=$(xdotool search --onlyvisible --name "^$title\$" | head -n 1)
    [ -n "$win" ]
}
client_origin() {
    eval "$(xdotool getwindowgeometry --shell "$win")"
    border=$(( (WIDTH - client_width) / 2 ))
    ox=$(( X + border )) oy=$(( Y + HEIGHT - client_height - border ))
}
click() {  # click X Y: a left click at X, Y of the dialog's client area
    client_origin
    xdotool mousemove $(( ox + $1 )) $(( oy + $2 )) click 1
    sleep 0.5
}
xdpyinfo_ok() { [ -f "$fbdir/Xvfb_screen0" ] && DISPLAY=$DPC_XVFB_DISPLAY xdotool getmouselocation >/dev/null; }
park_pointer() { xdotool mousemove 0 0; sleep 0.5; }

# The dialog's client area as the X server shows it, from Xvfb's frame buffer (an XWD file): shot NAME.
shot() {
    client_origin
    python3 - "$fbdir/Xvfb_screen0" "$ox" "$oy" "$client_width" "$client_height" "$dir/$1.rgb" <<'EOF'
import struct, sys
path, x, y, w, h, out = sys.argv[1], *map(int, sys.argv[2:6]), sys.argv[6]
data = open(path, "rb").read()
header_size = struct.unpack(">I", data[:4])[0]
fields = struct.unpack(">25I", data[:100])
width, height, bits_per_pixel, bytes_per_line, ncolors = fields[4], fields[5], fields[11], fields[12], fields[19]
start = header_size + 12 * ncolors
step = bits_per_pixel // 8
with open(out, "wb") as f:
    for row in range(y, y + h):
        base = start + row * bytes_per_line
        f.write(data[base + x * step: base + (x + w) * step])
EOF
}

# drawn_text NAME LEFT TOP RIGHT BOTTOM: some dark pixels (text) in that part of the dialog's shot NAME.
drawn_text() {
    python3 - "$dir/$1.rgb" "$client_width" "$client_height" "$2" "$3" "$4" "$5" <<'EOF'
import sys
path, width, height, left, top, right, bottom = sys.argv[1], *map(int, sys.argv[2:8])
data = open(path, "rb").read()
step = len(data) // (width * height)
dark = sum(1 for y in range(top, bottom) for x in range(left, right)
           if max(data[(y * width + x) * step:(y * width + x) * step + 3]) < 100)
sys.exit(0 if dark >= 10 else 1)
EOF
}

run_side() {
    side=$1
    dir=$scratch/$side
    fbdir=$dir/fb
    mkdir -p "$dir" "$fbdir"
    fifo=$dir/control
    # An X server of its own: on DPC_XVFB_DISPLAY (e.g. :31) when set, else on a free display (-displayfd).
    if [ -n "${DPC_XVFB_DISPLAY:-}" ]; then
        echo "${DPC_XVFB_DISPLAY#:}" >"$dir/display"
        Xvfb "$DPC_XVFB_DISPLAY" -screen 0 1024x768x24 -fbdir "$fbdir" -nolisten tcp >"$dir/xvfb.log" 2>&1 &
        xvfb=$!
        until_ok 30 xdpyinfo_ok || fail "Xvfb did not start on $DPC_XVFB_DISPLAY"
    else
        Xvfb -displayfd 3 -screen 0 1024x768x24 -fbdir "$fbdir" -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
        xvfb=$!
    fi
    until_ok 30 test -s "$dir/display" || fail "Xvfb did not start"
    DISPLAY=:$(cat "$dir/display")
    export DISPLAY
    # Each side in a process group of its own (setsid), so that an early end takes the emulator, the window
    # and Wine's processes with it.
    if [ "$side" = linux ]; then
        (cd "$dir" && exec setsid "$emulator" --control "$fifo" -- "$linux/doorphoneconfig" --wire-log wire.log) \
            >"$dir/window.log" 2>&1 &
    else
        (cd "$dir" && DPC_WINE_DISPLAY=$DISPLAY exec setsid "$source_dir/scripts/run-on-emulated-controller-under-wine" \
            --build "$dir/wine" --emulator "$emulator" --waiter "$probe" --control "$fifo" \
            -- "$windows/doorphoneconfig.exe" --wire-log wire.log) >"$dir/window.log" 2>&1 &
    fi
    window=$!
    trap 'end_side' EXIT

    # Wine's first start on a new prefix sets up its fonts for the X server, which takes minutes on a busy
    # machine.
    end=$(( $(now) + 420 ))
    until find_window 2>/dev/null; do
        kill -0 "$window" 2>/dev/null || { cat "$dir/window.log" >&2; fail "the window ended before it showed"; }
        [ "$(now)" -lt "$end" ] || { cat "$dir/window.log" >&2; fail "no window on the screen"; }
        sleep 0.2
    done
    wait_settled
    read_lines=$(lines)
    echo "$side: the window read the controller ($read_lines transfers)"

    # The DTMF password (tab 0, row 6): clicked into, replaced, left with Tab, which writes it.
    click 400 272
    xdotool key ctrl+a
    xdotool type --delay 100 4321
    xdotool key Tab
    park_pointer
    wait_settled "$read_lines"
    grep -q '^SET' "$dir/wire.log" || fail "the edit wrote nothing"
    echo "$side: the click and keys wrote the password"
    # The focus where the connected view puts it after a plug: on the tabs (a click on the tab shown, which
    # reads nothing), so that the two views can be compared.
    click 60 40
    park_pointer
    shot connected
    # The values are drawn: the password just typed shows in its field (a text engine can leave an edit's
    # text undrawn while the wire is right).
    [ "$side" = linux ] || drawn_text connected 244 264 320 280 || fail "the password field shows no text"

    printf 'unplug\n' >"$fifo"
    sleep 3
    shot unplugged
    before_plug=$(lines)
    printf 'plug\n' >"$fifo"
    wait_settled "$before_plug"
    park_pointer
    shot plugged
    echo "$side: unplug and plug; the window read again ($(( $(lines) - before_plug )) transfers)"

    # Install FW (tab 0, row 2), and Y to the question that opens over the window.
    before_install=$(lines)
    click 495 152
    until_ok 30 sh -c "[ \$(xdotool search --onlyvisible --name '^$title\$' | wc -l) -ge 2 ]" ||
        fail "no question after Install FW"
    box=$(xdotool search --onlyvisible --name "^$title\$" | grep -v "^$win\$" | head -n 1)
    sleep 1
    # A click on the box's text (which takes no focus) makes it the active window; its Cancel has the focus,
    # Tab takes it to OK and Space presses that.
    eval "$(xdotool getwindowgeometry --shell "$box")"
    xdotool mousemove $(( X + WIDTH / 2 )) $(( Y + HEIGHT / 4 )) click 1
    sleep 0.5
    xdotool key Tab
    sleep 0.5
    xdotool key space
    park_pointer
    # The stream, the controller's reboot and its return: the restore of the defaults goes out then.
    until_ok 300 grep -q '^SET 03 02 35 35' "$dir/wire.log" || fail "no restore of the defaults after the install"
    wait_settled "$before_install"
    echo "$side: the install completed and the restore went out on the return"

    xdotool key alt+F4 || true
    end_side
    trap - EXIT
}

end_side() {
    kill -- "-$window" 2>/dev/null || kill "$window" 2>/dev/null || true
    wait "$window" 2>/dev/null || true
    [ "$side" = linux ] || WINEPREFIX=$dir/wine/wine-prefix wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
}

run_side linux
run_side windows

side=windows
dir=$scratch/windows
cmp -s "$dir/connected.rgb" "$dir/unplugged.rgb" && fail "the window looked the same after unplug"
cmp -s "$dir/connected.rgb" "$dir/plugged.rgb" || fail "the window did not look as before after plug"

status=0
if ! cmp "$scratch/linux/wire.log" "$scratch/windows/wire.log"; then
    diff "$scratch/linux/wire.log" "$scratch/windows/wire.log" | head -20
    status=1
fi
[ "$status" = 0 ] && echo "the same $(wc -l <"$scratch/linux/wire.log") transfers from both windows"
exit "$status"
