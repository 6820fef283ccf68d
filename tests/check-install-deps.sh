#!/bin/sh
# Usage: check-install-deps.sh INSTALL-DEPS
# For a user who is not root and has no sudo, install-deps names the missing packages and the command that
# installs them as root, and stops (non-zero) without trying to install anything. Run as root, the script
# runs as nobody, so it can never install anything itself.
script=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
# A PATH with only what install-deps needs: no sudo, whether or not this machine has one.
for tool in bash dpkg-query grep id; do
  ln -s "$(command -v "$tool")" "$dir/bin/$tool" || exit 1
done
cp "$script" "$dir/install-deps"
chmod -R a+rX "$dir"
missing=dpc-check-install-deps-absent-package
if [ "$(id -u)" -eq 0 ]; then
  out=$(setpriv --reuid=65534 --regid=65534 --clear-groups env PATH="$dir/bin" "$dir/install-deps" "$missing" 2>&1)
else
  out=$(env PATH="$dir/bin" "$dir/install-deps" "$missing" 2>&1)
fi
rc=$?
printf '%s\n' "$out"
status=0
[ "$rc" -ne 0 ] || { echo "FAIL: install-deps ended with 0 although a package is missing" >&2; status=1; }
case "$out" in *"missing: "*"$missing"*) ;; *) echo "FAIL: the missing package is not named" >&2; status=1 ;; esac
case "$out" in *"apt-get install"*"$missing"*) ;; *) echo "FAIL: no command to install it as root" >&2; status=1 ;; esac
case "$out" in *"not found"*) echo "FAIL: a command was not found" >&2; status=1 ;; esac
exit $status
