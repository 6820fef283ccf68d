#!/bin/sh
# session.sh PROGRAM...: one technician's session with doorphonectl in the current folder, every kind of
# change a run of its own, each run as PROGRAM --wire-log wire.log COMMAND. Stops at the first failure.
set -eu
"$@" --wire-log wire.log show >show.txt
"$@" --wire-log wire.log set audio.speaker-volume 7 >/dev/null
"$@" --wire-log wire.log set door.open-code '*77#' >/dev/null
"$@" --wire-log wire.log export profile.json
"$@" --wire-log wire.log set aux.station-output 'Door Alarm' >/dev/null
"$@" --wire-log wire.log export profile.json  # over the first one
"$@" --wire-log wire.log restore-defaults >/dev/null
"$@" --wire-log wire.log import profile.json >/dev/null
"$@" --wire-log wire.log flash --yes >/dev/null
"$@" --wire-log wire.log get door.open-code >get.txt
