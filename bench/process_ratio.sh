#!/bin/sh
# Whole-process comparison, run side by side: `morv3d info` of the 32 MB hierarchy scene of the
# loading benchmark against a process that only reads the file into one freshly allocated
# buffer. Target: at most 1.5 times. Usage: bench/process_ratio.sh BUILD_DIR [RUNS]
set -eu
build=${1:?usage: process_ratio.sh BUILD_DIR [RUNS]}
runs=${2:-15}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$build/bench/bench_scene_writer" "$dir"
ms() { # wall milliseconds of one run of the command
    start=$(date +%s%N)
    "$@" >/dev/null
    echo $(( ($(date +%s%N) - start) / 1000 ))
}
info=""
read=""
i=0
while [ $i -lt "$runs" ]; do
    info="$info $(ms "$build/tools/morv3d/morv3d" info "$dir/hierarchy.morv3d")"
    read="$read $(ms "$build/bench/read_whole_file" "$dir/hierarchy.morv3d")"
    i=$((i + 1))
done
# The fastest run of each: the neighbours' load only ever adds time.
best() { echo "$@" | tr ' ' '\n' | grep . | sort -n | head -1; }
info_us=$(best $info)
read_us=$(best $read)
awk -v a="$info_us" -v b="$read_us" -v s="$(stat -c %s "$dir/hierarchy.morv3d")" 'BEGIN {
    printf "file %.1f MB; morv3d info %.1f ms, read into a fresh buffer %.1f ms: ratio %.2f (target 1.5) %s\n",
        s / 1e6, a / 1000, b / 1000, a / b, (a / b <= 1.5 ? "met" : "MISSED") }'
