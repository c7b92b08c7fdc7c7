#!/usr/bin/env bash
# The manual page renders without a warning, and every output the README or
# the manual page shows after a "$ ampdots ..." line is what the tool prints
# for that command today (the example path is the bundled one).
#   docs_check.sh AMPDOTS SOURCE_DIR
set -euo pipefail
ampdots=$1 src=$2
status=0

warnings=$(groff -ww -z -man "$src/docs/ampdots.1" 2>&1 || true)
[ -z "$warnings" ] || { echo "groff warnings:"; echo "$warnings"; status=1; }

# Checks each shown command's output block: the lines after a "$ ampdots"
# line up to the block's end (a ``` or .EE line). The file it names must be
# one of the bundled examples, wherever the text says it lies.
check_blocks() {  # FILE END_MARK
  local file=$1 end=$2 command="" block="" shown=0
  while IFS= read -r line || [ -n "$line" ]; do
    if [[ $line == '$ ampdots '* ]]; then
      command=${line#'$ '} block="" shown=1
    elif [ $shown -eq 1 ] && [ "$line" = "$end" ]; then
      if [ -n "$block" ]; then
        read -r -a words <<< "${command#ampdots }"
        example=$src/examples/$(basename "${words[0]}")
        if [ ! -f "$example" ]; then
          echo "$file: '$command' shows output for a file that is not a bundled example"
          status=1
          shown=0
          continue
        fi
        words[0]=$example
        got=$("$ampdots" "${words[@]}")
        if [ "$got" != "${block%$'\n'}" ]; then
          echo "$file: the output shown for '$command' is not what the tool prints:"
          diff <(printf '%s\n' "${block%$'\n'}") <(printf '%s\n' "$got") || true
          status=1
        fi
      fi
      shown=0
    elif [ $shown -eq 1 ]; then
      block+="$line"$'\n'
    fi
  done < "$file"
}
check_blocks "$src/README.md" '```'
check_blocks "$src/docs/ampdots.1" '.EE'
exit $status
