#!/bin/bash
# Usage: check-install-deps.sh INSTALL-DEPS refused|lock
#
# refused: a user who cannot install (not root, and no sudo; or a sudo that refuses, with no terminal and
# with one) is told which packages are missing and the one command that installs them as root, and
# install-deps stops (exit 1) without trying to install anything. Run as root, these run as nobody.
#
# lock: another apt holds the package lists' lock and then the package manager's lock for a few seconds;
# install-deps says that it waits, waits, says how much it will download before the install, and installs.
# apt-get and sudo are stand-ins on a PATH of their own, so nothing is ever installed.
script=$1 mode=$2
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin" "$dir/apt"
# A PATH with only what install-deps needs: no real sudo or apt-get, whether or not this machine has them.
for tool in bash dpkg-query grep id env mktemp rm cat awk sleep head flock script true; do
  ln -s "$(type -P "$tool")" "$dir/bin/$tool" || exit 1
done
cp "$script" "$dir/install-deps"
missing=dpc-check-install-deps-absent-package
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

# Runs install-deps as a user who is not root (nobody, when this is root) on the PATH above.
as_user() {
  chmod -R a+rX "$dir"
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups env PATH="$dir/bin" "$@"
  else
    env PATH="$dir/bin" "$@"
  fi
}

# The way forward for a user who cannot install: named packages, the root command, exit 1, no install.
check_refused() {
  local what=$1 rc=$2 out=$3
  printf '%s:\n%s\n' "$what" "$out"
  [ "$rc" -ne 0 ] || fail "$what: install-deps ended with 0 although a package is missing"
  case "$out" in *"missing: "*"$missing"*) ;; *) fail "$what: the missing package is not named" ;; esac
  case "$out" in *"apt-get install"*"$missing"*) ;; *) fail "$what: no command to install it as root" ;; esac
  case "$out" in *"not found"*) fail "$what: a command was not found" ;; esac
  if [ -e "$dir/sudo-ran" ]; then
    fail "$what: sudo was asked to run $(cat "$dir/sudo-ran")"
  fi
}

if [ "$mode" = refused ]; then
  out=$(as_user "$dir/install-deps" "$missing" 2>&1)
  check_refused "no sudo" $? "$out"

  # A sudo that refuses this user: it wants a password (which it cannot read without a terminal) and,
  # given one, finds the user not in the sudoers file, as a user who is not a sudoer meets it.
  cat > "$dir/bin/sudo" <<EOF
#!/bin/bash
case "\$1" in
  -n) echo "sudo: a password is required" >&2; exit 1 ;;
  -v) echo "\$(id -un) is not in the sudoers file." >&2; exit 1 ;;
esac
echo "\$*" >> "$dir/sudo-ran"
exit 1
EOF
  chmod a+rx "$dir/bin/sudo"
  out=$(as_user "$dir/install-deps" "$missing" 2>&1 < /dev/null)
  check_refused "a sudo that refuses, no terminal" $? "$out"
  # On a terminal (script gives it one), sudo may ask for the password: it refuses all the same.
  out=$(as_user script -qec "$dir/install-deps $missing" /dev/null 2>&1 < /dev/null)
  check_refused "a sudo that refuses, on a terminal" $? "$out"
  case "$out" in *"not in the sudoers file"*) ;; *) fail "on a terminal, sudo was not asked" ;; esac
  exit $status
fi

# mode lock. An apt-get that keeps the package lists' lock and the package manager's lock as files in
# $dir/apt, held with flock as another apt would hold them: update fails at once while its lock is held,
# install waits for as long as DPkg::Lock::Timeout says; --print-uris lists two files of 3 and 1 MiB.
cat > "$dir/bin/apt-get" <<EOF
#!/bin/bash
locks=$dir/apt
case " \$* " in
  *" update "*)
    if ! flock -n "\$locks/lists" true; then
      : > "\$locks/lists-met"
      echo "E: Could not get lock \$locks/lists. It is held by process \$(cat "\$locks/holder") (apt-get)" >&2
      exit 100
    fi
    echo "Reading package lists..." ;;
  *" --print-uris "*)
    echo "'http://deb.debian.org/debian/pool/main/a/a.deb' a.deb 3145728 MD5Sum:0"
    echo "'http://deb.debian.org/debian/pool/main/b/b.deb' b.deb 1048576 MD5Sum:0" ;;
  *" install "*)
    wait=0
    for arg; do case "\$arg" in DPkg::Lock::Timeout=*) wait=\${arg#*=} ;; esac; done
    flock -n "\$locks/frontend" true || : > "\$locks/frontend-met"
    if ! flock -w "\$wait" "\$locks/frontend" true; then
      echo "E: Could not get lock \$locks/frontend. It is held by process \$(cat "\$locks/holder") (apt-get)" >&2
      exit 100
    fi
    echo "INSTALLED \${@: -1}" ;;
esac
EOF
cat > "$dir/bin/sudo" <<'EOF'
#!/bin/bash
[ "$1" = -n ] && shift
exec "$@"
EOF
chmod a+rx "$dir/bin/apt-get" "$dir/bin/sudo"
# The other apt holds each lock until install-deps has met it (the stand-in marks that), and a second
# longer, so install-deps must wait for both; never longer than a minute.
hold() {
  flock "$dir/apt/$1" timeout 60 bash -c 'until [ -e "$0" ]; do sleep 0.1; done; sleep 1' "$dir/apt/$1-met" &
}
hold lists
echo $! > "$dir/apt/holder"
lists_holder=$!
hold frontend
frontend_holder=$!
while flock -n "$dir/apt/lists" true || flock -n "$dir/apt/frontend" true; do sleep 0.05; done
out=$(env PATH="$dir/bin" DPC_APT_LOCK_WAIT=30 "$dir/install-deps" "$missing" 2>&1)
rc=$?
kill "$lists_holder" "$frontend_holder" 2>/dev/null
wait
printf '%s\n' "$out"
[ "$rc" -eq 0 ] || fail "install-deps ended with $rc"
case "$out" in *"waiting up to 30 seconds"*) ;; *) fail "it did not say that it waits for the other apt" ;; esac
case "$out" in
  *"downloads 2 files, 4.0 MiB"*"INSTALLED $missing"*) ;;
  *) fail "it did not say how much it downloads before installing, or did not install" ;;
esac
case "$out" in *"Could not get lock"*) fail "apt's lock error reached the user" ;; esac
exit $status
