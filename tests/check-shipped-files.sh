#!/bin/sh
# Usage: check-shipped-files.sh DESKTOP-FILE METAINFO-FILE MANUAL...
# The desktop entry, the AppStream metainfo and the manual pages as the tools that read them judge them.
status=0
desktop=$1 metainfo=$2
shift 2
desktop-file-validate "$desktop" || status=1
appstreamcli validate --no-net "$metainfo" || status=1
for page in "$@"; do
  # groff's own warnings (-ww) on standard error mean a page that renders wrongly somewhere.
  warnings=$(groff -ww -man -Tutf8 "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings" >&2
    status=1
  fi
  if ! MANWIDTH=80 man -l "$page" >/dev/null 2>&1; then
    echo "$page: man cannot render it" >&2
    status=1
  fi
done
exit $status
