#!/bin/sh
# Usage: check-maintainer-scripts.sh EMULATOR POSTINST POSTRM
# The package's postinst and postrm, run on a crowded bench of the kernel-level emulation (a second product
# of the vendor, a device of another vendor, the controller with two HID interfaces), with a udevadm that
# records what it is asked. Where udev runs, both reload the rules and replay exactly the controller's
# hidraw nodes; where it does not, they ask nothing more than whether it runs.
emulator=$1 postinst=$2 postrm=$3
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
cat > "$dir/bin/udevadm" <<END
#!/bin/sh
echo "udevadm \$*" >> "$dir/calls"
case "\$*" in
  *--ping*) [ -e "$dir/udev-runs" ] ;;
esac
END
chmod +x "$dir/bin/udevadm"

status=0
# check NAME SCRIPT ARGUMENT EXPECTED-CALLS
check() {
  rm -f "$dir/calls"
  touch "$dir/calls"
  if ! PATH="$dir/bin:$PATH" "$emulator" --crowded -- "$2" "$3"; then
    echo "FAIL: $1: $2 $3 failed" >&2
    status=1
  fi
  if [ "$(cat "$dir/calls")" != "$4" ]; then
    printf 'FAIL: %s\nasked:\n%s\nexpected:\n%s\n' "$1" "$(cat "$dir/calls")" "$4" >&2
    status=1
  fi
}

ping="udevadm control --ping --timeout=5"
replay="$ping
udevadm control --reload
udevadm trigger --action=change /sys/class/hidraw/hidraw2
udevadm trigger --action=change /sys/class/hidraw/hidraw3"

touch "$dir/udev-runs"
check "installed where udev runs" "$postinst" configure "$replay"
check "removed where udev runs" "$postrm" remove "$replay"
check "purged after removal" "$postrm" purge ""
rm "$dir/udev-runs"
check "installed where udev does not run" "$postinst" configure "$ping"
check "removed where udev does not run" "$postrm" remove "$ping"
[ $status -eq 0 ] && echo "the maintainer scripts asked udev for what they should"
exit $status
