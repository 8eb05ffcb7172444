#!/usr/bin/env bash
# Times several builds (or commands) on one run folder, their runs taking turns so that the
# machine's slower and faster spells fall on all of them; prints each one's median wall and user
# seconds. Usage: bench/compare_builds.sh RUN_FOLDER ROUNDS COMMAND...
#   e.g. bench/compare_builds.sh /tmp/small 9 /tmp/old/build/mesh_carver build/mesh_carver
set -euo pipefail
folder=$1 rounds=$2
shift 2
commands=()
for c in "$@"; do
    if [[ $c == */* && -x $c ]]; then commands+=("$(cd "$(dirname "$c")" && pwd)/$(basename "$c")"); else commands+=("$c"); fi
done
times=$(mktemp)
trap 'rm -f "$times"' EXIT
cd "$folder"
TIMEFORMAT='%3R %3U'
for _ in $(seq "$rounds"); do
    for k in "${!commands[@]}"; do
        { time ${commands[$k]} > /dev/null; } 2> "$times.one"
        echo "$k $(cat "$times.one")" >> "$times"
    done
done
rm -f "$times.one"
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for k in "${!commands[@]}"; do
    wall=$(awk -v k="$k" '$1 == k { print $2 }' "$times" | median)
    user=$(awk -v k="$k" '$1 == k { print $3 }' "$times" | median)
    echo "${commands[$k]}: wall $wall s, user $user s"
done
