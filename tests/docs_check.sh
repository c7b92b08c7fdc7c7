#!/usr/bin/env bash
# The manual page renders without a warning, and every output the README or
# the manual page shows after a "$ ampdots ..." line is what the tool prints
# for that command today (the example path is the bundled one).
#   docs_check.sh AMPDOTS SOURCE_DIR
set -euo pipefail
ampdots=$(realpath "$1") src=$(realpath "$2")
status=0

warnings=$(groff -ww -z -man "$src/docs/ampdots.1" 2>&1 || true)
[ -z "$warnings" ] || { echo "groff warnings:"; echo "$warnings"; status=1; }

# Checks each shown command's output block: the lines after a "$ ampdots"
# line up to the block's end (a ``` or .EE line). The file it names (the
# first word after the options) must be one of the bundled examples,
# wherever the text says it lies. CSV's CR LF line ends are shown as plain
# line ends.
check_blocks() {  # FILE END_MARK
  local file=$1 end=$2 command="" block="" shown=0
  while IFS= read -r line || [ -n "$line" ]; do
    if [[ $line == '$ ampdots '* ]]; then
      command=${line#'$ '} block="" shown=1
      command=${command//\\-/-}  # the manual page writes a minus as \-
    elif [ $shown -eq 1 ] && [ "$line" = "$end" ]; then
      if [ -n "$block" ]; then
        read -r -a words <<< "${command#ampdots }"
        f=0
        while [[ ${words[$f]} == --* ]]; do f=$((f + 1)); done
        example=$src/examples/$(basename "${words[$f]}")
        if [ ! -f "$example" ]; then
          echo "$file: '$command' shows output for a file that is not a bundled example"
          status=1
          shown=0
          continue
        fi
        # A path given relative to the source tree is run as written there,
        # since records print it; any other is the bundled example's.
        [ -f "$src/${words[$f]}" ] || words[$f]=$example
        got=$(cd "$src" && "$ampdots" "${words[@]}" | tr -d '\r')
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
