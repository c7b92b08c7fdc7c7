#!/usr/bin/env bash
# Times ampdots against reading the same file with cat (the read limit) and,
# where they are installed, against the general tools a user would reach for
# instead. All in one run, page cache warm, medians of interleaved rounds.
#
#   bench/run.sh [DIR [MIB [ROUNDS]]]
#
# DIR holds the generated WAVs (default /tmp/ampdots-bench), MIB their size
# (default 1024), ROUNDS the runs per command (default 5). AMPDOTS_BENCH_CASES
# names the sample formats to time (default: all). AMPDOTS_BENCH_BASELINE
# names another ampdots binary (an older build, say) to time in the same
# rounds, with its ratio to cat and the new/old ratio. AMPDOTS_BENCH_OPTIONS
# names the formats timed with --summary, --json and --csv --summary
# (default: pcm16 pcm24 float). AMPDOTS_BENCH_LOUDNESS names the files
# timed with --loudness against ffmpeg's ebur128 filter and libebur128, both
# with true peak, where they are installed (default: loud16, 16-bit stereo
# at 48 kHz). AMPDOTS_BENCH_STREAMS names the formats timed through a
# pipe (default: pcm16 float), AMPDOTS_BENCH_ONE_CORE those timed on one
# processor with taskset -c 0 (default: pcm16 float). Builds the tool and
# the WAV generator in the release tree first.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/release
dir=${1:-/tmp/ampdots-bench}
mib=${2:-1024}
rounds=${3:-5}
[ -f "$bin/build.ninja" ] || cmake --preset release > /dev/null
cmake --build "$bin" --target ampdots make_wav > /dev/null
# The loudness baseline, where libebur128 is installed.
cmake --build "$bin" --target ebur128_file > /dev/null 2>&1 || true
mkdir -p "$dir"

make_if_missing() {  # NAME FORMAT MIB CHANNELS RATE
  [ -s "$dir/$1" ] || "$bin/make_wav" "$2" "$dir/$1" "$3" "$4" "$5"
}
make_if_missing pcm16.wav pcm16 "$mib" 2 44100
make_if_missing pcm24.wav pcm24 "$mib" 2 48000
make_if_missing float.wav float "$mib" 2 48000
make_if_missing pcm32.wav pcm32 "$mib" 2 48000
make_if_missing pcm8.wav pcm8 "$mib" 2 8000
make_if_missing mulaw.wav mulaw "$mib" 2 8000
make_if_missing double.wav double "$mib" 2 48000
make_if_missing pcm24x6.wav pcm24 "$mib" 6 48000
make_if_missing loud16.wav pcm16 "$mib" 2 48000
make_if_missing lines.wav pcm16 26 1 44100  # a little over 300 s of mono
"$bin/ampdots" "$dir/lines.wav" 0 300 1 > "$dir/lines.txt"

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
# Seconds one command takes, output discarded.
time_one() {
  local start end
  start=$(now)
  "$@" > /dev/null 2>&1
  end=$(now)
  calc "$end - $start"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

base=${AMPDOTS_BENCH_BASELINE:-}
peers=()
command -v sox > /dev/null && peers+=(sox)
command -v ffmpeg > /dev/null && peers+=(ffmpeg)

run_peer() {  # PEER FILE
  case $1 in
    sox) sox "$2" -n stat ;;
    ffmpeg) ffmpeg -nostdin -i "$2" -af volumedetect -f null - ;;
  esac
}

printf '%s, %s cores, %s\n' "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')" \
  "$(nproc)" "$(uname -r)"
printf '%-10s %-8s %10s %10s %12s\n' case command median_s MiB/s ratio
for name in ${AMPDOTS_BENCH_CASES:-pcm16 pcm24 float pcm32 pcm8 mulaw double pcm24x6}; do
  file="$dir/$name.wav"
  size=$(stat -L -c %s "$file")
  cat "$file" > /dev/null  # warm the page cache
  declare -A times=()
  for ((r = 0; r < rounds; r++)); do
    times[cat]+="$(time_one cat "$file") "
    times[ampdots]+="$(time_one "$bin/ampdots" "$file" 0 100000) "
    [ -z "$base" ] || times[baseline]+="$(time_one "$base" "$file" 0 100000) "
    for p in "${peers[@]}"; do times[$p]+="$(time_one run_peer "$p" "$file") "; done
  done
  cat_s=$(tr ' ' '\n' <<< "${times[cat]}" | grep . | median)
  amp_s=$(tr ' ' '\n' <<< "${times[ampdots]}" | grep . | median)
  cmds=(cat ampdots)
  [ -z "$base" ] || cmds+=(baseline)
  for cmd in "${cmds[@]}" "${peers[@]}"; do
    s=$(tr ' ' '\n' <<< "${times[$cmd]}" | grep . | median)
    case $cmd in
      cat) ratio="" ;;
      ampdots) ratio=$(printf 'ampdots/cat %.2f' "$(calc "$s / $cat_s")") ;;
      baseline) ratio=$(printf 'baseline/cat %.2f new/old %.3f' "$(calc "$s / $cat_s")" \
                               "$(calc "$amp_s / $s")") ;;
      *) ratio=$(printf '%s/ampdots %.1f' "$cmd" "$(calc "$s / $amp_s")") ;;
    esac
    printf '%-10s %-8s %10.3f %10.0f %s\n' "$name" "$cmd" "$s" "$(calc "$size / 1048576 / $s")" "$ratio"
  done
  unset times
done

# With the options: the figures (--summary), records for programs (--json,
# --csv --summary), a whole-file picture in dB (--db --lines=50), silences
# and clips, against cat and the picture in the same rounds.
run_mode() {  # MODE FILE
  case $1 in
    picture) "$bin/ampdots" "$2" 0 100000 ;;
    summary) "$bin/ampdots" --summary "$2" 0 100000 ;;
    json) "$bin/ampdots" --json "$2" 0 100000 ;;
    csv) "$bin/ampdots" --csv --summary "$2" 0 100000 ;;
    db) "$bin/ampdots" --db --lines=50 "$2" 0 100000 ;;
    silence) "$bin/ampdots" --silence "$2" 0 100000 ;;
    clips) "$bin/ampdots" --clips "$2" 0 100000 ;;
    old-summary) "$base" --summary "$2" 0 100000 ;;
    old-json) "$base" --json "$2" 0 100000 ;;
  esac
}
modes=(picture summary json csv db silence clips)
[ -z "$base" ] || modes+=(old-summary old-json)
for name in ${AMPDOTS_BENCH_OPTIONS:-pcm16 pcm24 float}; do
  file="$dir/$name.wav"
  size=$(stat -L -c %s "$file")
  cat "$file" > /dev/null
  declare -A times=()
  for ((r = 0; r < rounds; r++)); do
    times[cat]+="$(time_one cat "$file") "
    for m in "${modes[@]}"; do times[$m]+="$(time_one run_mode "$m" "$file") "; done
  done
  cat_s=$(tr ' ' '\n' <<< "${times[cat]}" | grep . | median)
  pic_s=$(tr ' ' '\n' <<< "${times[picture]}" | grep . | median)
  for m in "${modes[@]}"; do
    s=$(tr ' ' '\n' <<< "${times[$m]}" | grep . | median)
    printf '%-10s %-8s %10.3f %10.0f %s\n' "$name" "$m" "$s" "$(calc "$size / 1048576 / $s")" \
      "$(printf 'ampdots/cat %.2f /picture %.2f' "$(calc "$s / $cat_s")" "$(calc "$s / $pic_s")")"
  done
  unset times
done

# Loudness of the whole file with true peak, against the tools people use
# for it, in the same rounds.
loud_peers=()
command -v ffmpeg > /dev/null && loud_peers+=(ffmpeg)
[ -x "$bin/ebur128_file" ] && loud_peers+=(libebur128)
run_loudness() {  # WHO FILE
  case $1 in
    ampdots) "$bin/ampdots" --loudness --lines=50 "$2" 0 100000 ;;
    ffmpeg) ffmpeg -nostdin -i "$2" -af ebur128=peak=true -f null - ;;
    libebur128) "$bin/ebur128_file" "$2" ;;
  esac
}
for name in ${AMPDOTS_BENCH_LOUDNESS:-loud16}; do
  file="$dir/$name.wav"
  size=$(stat -L -c %s "$file")
  cat "$file" > /dev/null
  declare -A times=()
  for ((r = 0; r < rounds; r++)); do
    times[cat]+="$(time_one cat "$file") "
    for who in ampdots "${loud_peers[@]}"; do
      times[$who]+="$(time_one run_loudness "$who" "$file") "
    done
  done
  cat_s=$(tr ' ' '\n' <<< "${times[cat]}" | grep . | median)
  amp_s=$(tr ' ' '\n' <<< "${times[ampdots]}" | grep . | median)
  for who in ampdots "${loud_peers[@]}"; do
    s=$(tr ' ' '\n' <<< "${times[$who]}" | grep . | median)
    case $who in
      ampdots) ratio=$(printf 'loudness, ampdots/cat %.2f' "$(calc "$s / $cat_s")") ;;
      *) ratio=$(printf '%s/ampdots %.1f' "$who" "$(calc "$s / $amp_s")") ;;
    esac
    printf '%-10s %-10s %8.3f %10.0f %s\n' "$name" "$who" "$s" "$(calc "$size / 1048576 / $s")" "$ratio"
  done
  unset times
done

# Streams: the file through a pipe, against cat through the same pipe.
stream_cat() { cat "$1" | cat > /dev/null; }
stream_ampdots() { cat "$1" | "$bin/ampdots" - 0 100000 > /dev/null; }
stream_baseline() { cat "$1" | "$base" - 0 100000 > /dev/null; }
for name in ${AMPDOTS_BENCH_STREAMS:-pcm16 float}; do
  file="$dir/$name.wav"
  size=$(stat -L -c %s "$file")
  cat "$file" > /dev/null
  declare -A times=()
  for ((r = 0; r < rounds; r++)); do
    times[cat]+="$(time_one stream_cat "$file") "
    times[ampdots]+="$(time_one stream_ampdots "$file") "
    [ -z "$base" ] || times[baseline]+="$(time_one stream_baseline "$file") "
  done
  cat_s=$(tr ' ' '\n' <<< "${times[cat]}" | grep . | median)
  amp_s=$(tr ' ' '\n' <<< "${times[ampdots]}" | grep . | median)
  printf '%-10s %-8s %10.3f %10.0f\n' "$name|" "cat|cat" "$cat_s" "$(calc "$size / 1048576 / $cat_s")"
  printf '%-10s %-8s %10.3f %10.0f %s\n' "$name|" "cat|amp" "$amp_s" "$(calc "$size / 1048576 / $amp_s")" \
    "$(printf 'ampdots/cat %.2f' "$(calc "$amp_s / $cat_s")")"
  if [ -n "$base" ]; then
    s=$(tr ' ' '\n' <<< "${times[baseline]}" | grep . | median)
    printf '%-10s %-8s %10.3f %10.0f %s\n' "$name|" "cat|old" "$s" "$(calc "$size / 1048576 / $s")" \
      "$(printf 'baseline/cat %.2f' "$(calc "$s / $cat_s")")"
  fi
  unset times
done

# Output-heavy: one line per frame, against cat of a file of the same text.
out_size=$(stat -c %s "$dir/lines.txt")
cat "$dir/lines.wav" "$dir/lines.txt" > /dev/null
declare -A times=()
for ((r = 0; r < rounds; r++)); do
  times[cat]+="$(time_one cat "$dir/lines.txt") "
  times[ampdots]+="$(time_one "$bin/ampdots" "$dir/lines.wav" 0 300 1) "
  [ -z "$base" ] || times[baseline]+="$(time_one "$base" "$dir/lines.wav" 0 300 1) "
done
cat_s=$(tr ' ' '\n' <<< "${times[cat]}" | grep . | median)
amp_s=$(tr ' ' '\n' <<< "${times[ampdots]}" | grep . | median)
printf '%-10s %-8s %10.3f %10.0f\n' lines cat "$cat_s" "$(calc "$out_size / 1048576 / $cat_s")"
printf '%-10s %-8s %10.3f %10.0f %s\n' lines ampdots "$amp_s" "$(calc "$out_size / 1048576 / $amp_s")" \
  "$(printf 'ampdots/cat %.2f' "$(calc "$amp_s / $cat_s")")"
if [ -n "$base" ]; then
  s=$(tr ' ' '\n' <<< "${times[baseline]}" | grep . | median)
  printf '%-10s %-8s %10.3f %10.0f %s\n' lines baseline "$s" "$(calc "$out_size / 1048576 / $s")" \
    "$(printf 'baseline/cat %.2f' "$(calc "$s / $cat_s")")"
fi
echo "(lines: $(wc -l < "$dir/lines.txt") lines, $((out_size / 1048576)) MiB of text; MiB/s of text written)"
unset times

# One processor only (taskset -c 0): the tool then works alone, without its
# second thread; against cat on that processor, and the baseline.
if command -v taskset > /dev/null; then
  for name in ${AMPDOTS_BENCH_ONE_CORE:-pcm16 float}; do
    file="$dir/$name.wav"
    size=$(stat -L -c %s "$file")
    cat "$file" > /dev/null
    declare -A times=()
    for ((r = 0; r < rounds; r++)); do
      times[cat]+="$(time_one taskset -c 0 cat "$file") "
      times[ampdots]+="$(time_one taskset -c 0 "$bin/ampdots" "$file" 0 100000) "
      [ -z "$base" ] || times[baseline]+="$(time_one taskset -c 0 "$base" "$file" 0 100000) "
    done
    cat_s=$(tr ' ' '\n' <<< "${times[cat]}" | grep . | median)
    amp_s=$(tr ' ' '\n' <<< "${times[ampdots]}" | grep . | median)
    cmds=(cat ampdots)
    [ -z "$base" ] || cmds+=(baseline)
    for cmd in "${cmds[@]}"; do
      s=$(tr ' ' '\n' <<< "${times[$cmd]}" | grep . | median)
      case $cmd in
        cat) ratio="one core" ;;
        ampdots) ratio=$(printf 'one core, ampdots/cat %.2f' "$(calc "$s / $cat_s")") ;;
        baseline) ratio=$(printf 'one core, baseline/cat %.2f new/old %.3f' "$(calc "$s / $cat_s")" \
                                 "$(calc "$amp_s / $s")") ;;
      esac
      printf '%-10s %-8s %10.3f %10.0f %s\n' "$name" "$cmd" "$s" "$(calc "$size / 1048576 / $s")" "$ratio"
    done
    unset times
  done
fi
