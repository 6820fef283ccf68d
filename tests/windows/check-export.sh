#!/bin/sh
# check-export.sh WINE_ENV BUILD DOORPHONECTL_EXE HOLD_FILE_EXE SCRATCH CHECK: how export writes a profile under
# Wine, with the virtual controller.
#   held  a file another program holds open (without delete sharing) is replaced once that program lets it go
#         within the retry time; one that stays held is refused with a message that says so, and left as it was
#   root  the root of a drive is a folder like any other: \x.json, Q:\x.json and Q:x.json (drive Q: mapped to
#         the scratch folder, the current folder its root). (Wine reads /x.json as a Unix path, so that spelling
#         of the root is not tried here.)
#   bytes export - gives the same bytes as an export to a file (LF, no CR)
set -eu
wine_env=$1 build=$2 exe=$3 hold=$4 scratch=$5 check=$6
rm -rf "$scratch"
mkdir -p "$scratch"
failed=0
fail() { printf 'FAIL: %s\n' "$1" >&2; failed=1; }
windows() { printf 'Z:%s' "$1" | tr / '\\'; }
state=$(windows "$scratch/state.json")
no_temporary_left() {
    if ls -A "$scratch" | grep -q '^\.doorphoneconfig-'; then
        fail "a temporary file is left: $(ls -A "$scratch" | tr '\n' ' ')"
    fi
}

case "$check" in
held)
    printf 'old\n' >"$scratch/held.json"
    "$wine_env" "$build" wine "$hold" "$(windows "$scratch/held.json")" release \
        "$(windows "$exe")" "--simulate=$state" export "$(windows "$scratch/held.json")" >"$scratch/said" 2>&1 ||
        { fail "export over a file released within the retry time"; cat "$scratch/said"; }
    grep -q '"format": "doorphoneconfig-profile"' "$scratch/held.json" || fail "the released file holds: $(head -c 80 "$scratch/held.json")"
    no_temporary_left

    printf 'old\n' >"$scratch/kept.json"
    status=0
    "$wine_env" "$build" wine "$hold" "$(windows "$scratch/kept.json")" keep \
        "$(windows "$exe")" "--simulate=$state" export "$(windows "$scratch/kept.json")" >"$scratch/said" 2>&1 || status=$?
    [ "$status" = 2 ] || fail "export over a file held throughout: status $status, not 2"
    grep -q "cannot write .*kept.json: .*another program" "$scratch/said" || { fail "the refusal does not say why:"; cat "$scratch/said"; }
    [ "$(cat "$scratch/kept.json")" = old ] || fail "the held file was changed"
    no_temporary_left
    ;;
root)
    drive="$build/wine-prefix/dosdevices/q:"
    ln -sfn "$scratch" "$drive"
    trap 'rm -f "$drive"' EXIT
    ctl=$(windows "$exe")
    "$wine_env" "$build" wine cmd /c "cd /d Q:\\ && $ctl --simulate=$state export \\x.json && $ctl --simulate=$state export Q:\\y.json && $ctl --simulate=$state export Q:z.json" \
        >"$scratch/said" 2>&1 || { fail "export to the root of drive Q:"; cat "$scratch/said"; }
    for name in x y z; do
        grep -q '"format": "doorphoneconfig-profile"' "$scratch/$name.json" 2>/dev/null || fail "no profile $name.json in Q:'s root"
    done
    no_temporary_left
    ;;
bytes)
    "$wine_env" "$build" wine "$exe" "--simulate=$state" export "$(windows "$scratch/file.json")" ||
        fail "export to a file"
    "$wine_env" "$build" wine "$exe" "--simulate=$state" export - >"$scratch/standard-output.json" ||
        fail "export to standard output"
    cmp "$scratch/file.json" "$scratch/standard-output.json" || fail "export - and a file export differ"
    if tr -d '\n' <"$scratch/file.json" | grep -q "$(printf '\r')"; then
        fail "the profile has CR in it"
    fi
    ;;
*)
    echo "check-export.sh: no check $check (held, root, bytes)" >&2
    exit 2
    ;;
esac
[ "$failed" = 0 ] && rm -rf "$scratch"
exit "$failed"
