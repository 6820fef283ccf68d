#!/bin/sh
# check-hold.sh SOURCE_DIR LINUX_BUILD WINDOWS_BUILD PROBE_EXE SCRATCH
#
# The hold on Windows, under Wine on the emulated controller: a set during a flash is refused, sends nothing
# and names the flash as Windows does; the flash ends well; nothing is left in the lock folder once both are
# done; and simulated changes take no lock file in %ProgramData%\doorphoneconfig at all. Skips (77) without a
# Linux build's emulator.
set -eu
source_dir=$1 linux=$2 windows=$3 probe=$4 scratch=$5
emulator=$linux/emulate-controller
if [ ! -x "$emulator" ]; then
    echo "no Linux build with emulate-controller at $linux"
    exit 77
fi
rm -rf "$scratch"
mkdir -p "$scratch"
cd "$scratch"
exe="$windows/doorphonectl.exe"

# Simulated units are the program's own: no lock file, however many changes.
"$source_dir/scripts/wine-env" "$windows" sh -c '
  exe=$1; folder="$WINEPREFIX/drive_c/ProgramData/doorphoneconfig"
  before=$(ls -A "$folder" 2>/dev/null | wc -l)
  for code in 1 2 3; do wine "$exe" --simulate set door.open-code $code >/dev/null; done
  wine "$exe" --simulate=state.json set door.open-code 4 >/dev/null
  after=$(ls -A "$folder" 2>/dev/null | wc -l)
  [ "$before" = 0 ] && [ "$after" = 0 ] || { echo "lock files in $folder: $before before, $after after"; exit 1; }' sh "$exe"

cat >hold.sh <<'SCRIPT'
#!/bin/sh
exe=$1
waitfor() { w=0; until grep -q "$2" "$1" 2>/dev/null; do w=$((w+1)); [ $w -gt 1200 ] && return 1; sleep 0.05; done; }
wine "$exe" --wire-log flash.log flash --yes >flash.out 2>flash.err & f=$!
waitfor flash.log "SET 05 46" || exit 98
wine "$exe" --wire-log set.log set door.open-code 42 >/dev/null 2>set.err; echo $? >set.rc
wait $f; echo $? >flash.rc
ls -A "$DOORPHONECONFIG_LOCK_DIR" >left.txt
SCRIPT
chmod +x hold.sh
"$source_dir/scripts/run-on-emulated-controller-under-wine" --build "$windows" --emulator "$emulator" --waiter "$probe" \
    -- ./hold.sh "$exe"
status=0
check() { # check WHAT CONDITION...
    what=$1; shift
    if ! "$@"; then echo "not so: $what"; status=1; fi
}
check "the flash ended well" grep -qx "0" flash.rc
check "the set was refused" grep -qx "1" set.rc
check "the set named the flash" grep -q "is in use by doorphonectl.exe, process " set.err
check "the set sent nothing" test ! -s set.log
check "nothing left in the lock folder" test ! -s left.txt
[ "$status" = 0 ] || { cat flash.err set.err left.txt; exit 1; }
echo "held, refused, named, and nothing left"
