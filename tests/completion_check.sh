#!/usr/bin/env bash
# The bash completion offers WAV files and folders for the first argument
# and nothing after it.
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
