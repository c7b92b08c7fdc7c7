#!/usr/bin/env bash
# The bash completion offers the options, then WAV files and folders for
# the file, and nothing after it.
#   completion_check.sh COMPLETION_FILE WORKDIR
set -euo pipefail
source "$1"
dir=$2/completion
rm -rf "$dir" && mkdir -p "$dir/takes" && cd "$dir"
touch a.wav b.WAV c.txt wave.mp3
complete_words() {  # WORDS... : completes the last word
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  _ampdots
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
check() {  # EXPECTED GOT
  [ "$1" = "$2" ] || { echo "expected '$1', got '$2'"; exit 1; }
}
check "a.wav b.WAV takes " "$(complete_words ampdots '')"
check "a.wav " "$(complete_words ampdots a)"
check "takes " "$(complete_words ampdots t)"
check " " "$(complete_words ampdots a.wav '')"
check " " "$(complete_words ampdots a.wav 0 1 '')"
# Options before the file: offered for a word that starts with --, and the
# file is still the first word after them (or after a lone --).
check "--clips --csv " "$(complete_words ampdots --c)"
check "--summary " "$(complete_words ampdots --csv --su)"
check "a.wav b.WAV takes " "$(complete_words ampdots --json '')"
check "a.wav b.WAV takes " "$(complete_words ampdots --csv --summary '')"
check " " "$(complete_words ampdots --json a.wav '')"
check "a.wav b.WAV takes " "$(complete_words ampdots -- '')"
# Options with values: bash splits them at '=', and the file still comes
# after them.
check "--level= --lines= --loudness " "$(complete_words ampdots --l)"
check "--dual-mono " "$(complete_words ampdots --du)"
check "mean momentary peak rms short-term " "$(complete_words ampdots --level =)"
check "short-term " "$(complete_words ampdots --level = s)"
check "peak " "$(complete_words ampdots --level = p)"
check "auto " "$(complete_words ampdots --width = '')"
check "a.wav b.WAV takes " "$(complete_words ampdots --level = rms --db '')"
check " " "$(complete_words ampdots --lines = 9 a.wav '')"
