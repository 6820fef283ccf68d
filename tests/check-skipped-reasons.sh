#!/bin/sh
# Usage: check-skipped-reasons.sh SHOW-SKIPPED-TESTS
# make test's account of skipped tests, from what this ctest writes: a case that skips by its exit code
# and a GoogleTest case that skips, each with its reason (markup in it too); a case that passes is not named.
show=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
cat > "$dir/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(skips NONE)
enable_testing()
add_test(NAME by_exit_code COMMAND sh -c "echo 'nobody may not run <build> & its tests from here' >&2; exit 77")
set_tests_properties(by_exit_code PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME Suite.ByGoogleTest COMMAND sh -c "echo '[ RUN      ] Suite.ByGoogleTest'; echo 'no netlink socket for udev events here'; echo '[  SKIPPED ] Suite.ByGoogleTest (0 ms)'")
set_tests_properties(Suite.ByGoogleTest PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
add_test(NAME passes COMMAND sh -c "echo 'a passing case says this'")
CMAKE
cmake -S "$dir" -B "$dir/build" > /dev/null || exit 1
ctest --test-dir "$dir/build" --output-junit "$dir/results.xml" > /dev/null
out=$("$show" "$dir/results.xml")
printf '%s\n' "$out"
status=0
case "$out" in *"by_exit_code:"*"nobody may not run <build> & its tests from here"*) ;;
  *) echo "FAIL: the reason of the case skipped by its exit code is missing" >&2; status=1 ;; esac
case "$out" in *"Suite.ByGoogleTest:"*"no netlink socket for udev events here"*) ;;
  *) echo "FAIL: the reason of the skipped GoogleTest case is missing" >&2; status=1 ;; esac
case "$out" in *"SKIPPED ]"*) echo "FAIL: GoogleTest's status lines are shown" >&2; status=1 ;; esac
case "$out" in *"passes"*|*"a passing case"*) echo "FAIL: a case that passed is named" >&2; status=1 ;; esac
exit $status
