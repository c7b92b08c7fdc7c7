#!/usr/bin/env bash
# Runs the tool under valgrind's memcheck on every sample format: no memory
# errors, and as many heap allocations for a 1-second interval as for a
# 100-second one (none of them the tool's own).
#   valgrind_check.sh AMPDOTS MAKE_WAV WORKDIR
set -euo pipefail
ampdots=$1 make_wav=$2 dir=$3
mkdir -p "$dir"
status=0
for layout in "pcm16 1" "pcm16 2" "pcm24 1" "pcm24 2" "float 1" "float 2"; do
  set -- $layout
  file="$dir/valgrind-$1-$2.wav"
  # 100 seconds of 48 kHz at 3 bytes a sample and 2 channels is about 28 MiB.
  [ -s "$file" ] || "$make_wav" "$1" "$file" 30 "$2" 48000
  allocs=()
  for stop in 1 100; do
    log=$(valgrind --error-exitcode=3 --leak-check=full "$ampdots" "$file" 0 "$stop" 2>&1 >/dev/null) || {
      echo "$layout 0..$stop s: valgrind reported errors"; echo "$log"; status=1; }
    allocs+=("$(grep -o 'total heap usage: [0-9,]* allocs' <<< "$log")")
  done
  echo "$1 x$2: 1 s: ${allocs[0]}; 100 s: ${allocs[1]}"
  [ "${allocs[0]}" = "${allocs[1]}" ] || { echo "allocations grow with the interval"; status=1; }
done
exit $status
