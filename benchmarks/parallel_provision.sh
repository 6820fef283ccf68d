#!/bin/sh
# provision --flash on eight controllers at once against one alone, on the real hidapi/udev backend under the
# emulated kernel device, each unit taking 1 ms per transfer as the controller does. Prints both times and their
# ratio; the aim is at most 1.25 (one after another it would be about 8).
# Usage: benchmarks/parallel_provision.sh EMULATE-CONTROLLER DOORPHONECTL
set -eu
emulator=$1
doorphonectl=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%s\n' '{"format": "doorphoneconfig-profile", "version": 1, "settings": {"door.open-code": "42",' \
    '"audio.speaker-volume": "7"}}' > "$work/profile.json"

# Seconds that provision takes on UNITS controllers.
run() {
    units=$1
    set -- --apply "latency 1"
    i=1
    while [ "$i" -lt "$units" ]; do
        set -- "$@" --apply attach
        i=$((i + 1))
    done
    start=$(date +%s.%N)
    if ! "$emulator" "$@" -- "$doorphonectl" provision "$work/profile.json" --flash --count "$units" \
        > "$work/out" 2> "$work/err"; then
        cat "$work/out" "$work/err" >&2
        echo "parallel_provision: provision failed on $units units" >&2
        exit 1
    fi
    end=$(date +%s.%N)
    ok=$(grep -c ', OK$' "$work/out" || true)
    if [ "$ok" -ne "$units" ]; then
        cat "$work/out" >&2
        echo "parallel_provision: $ok of $units units OK" >&2
        exit 1
    fi
    echo "$start $end" | awk '{ printf "%.2f", $2 - $1 }'
}

one=$(run 1)
eight=$(run 8)
echo "provision --flash, 1 ms per transfer: 1 unit ${one} s, 8 units at once ${eight} s" \
    "(ratio $(echo "$one $eight" | awk '{ printf "%.2f", $2 / $1 }'); aim: at most 1.25)"
