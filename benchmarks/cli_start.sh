#!/usr/bin/env bash
# Measures how long `doorphonectl --simulate show` takes from start to exit, over 20 runs. Prints; asserts nothing.
set -eu
tool=${1:-build/doorphonectl}
runs=20
best=999999999
total=0
for _ in $(seq $runs); do
  start=$(date +%s%N)
  "$tool" --simulate show > /dev/null
  elapsed=$(( $(date +%s%N) - start ))
  total=$(( total + elapsed ))
  [ "$elapsed" -lt "$best" ] && best=$elapsed
done
printf '\ndoorphonectl --simulate show, %d runs\n\n' "$runs"
printf '%-30s %10.2f ms\n' "best" "$(awk -v n="$best" 'BEGIN{print n/1000000}')"
printf '%-30s %10.2f ms\n' "mean" "$(awk -v n="$total" -v r="$runs" 'BEGIN{print n/r/1000000}')"
printf '%-30s %10s\n' "Qt libraries loaded" "$(ldd "$tool" | grep -c libQt || true)"
# Peak resident memory of one run, from the kernel's own account of the finished child.
peak=$(python3 -c 'import resource,subprocess,sys; subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL); print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$tool" --simulate show)
printf '%-30s %7s KiB\n' "peak resident memory" "$peak"
