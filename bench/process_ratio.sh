#!/bin/sh
# Whole-process comparison, run side by side: `morv3d info` of the loading benchmark's scenes (36 MB
# hierarchy, 60 MB geometry) against a process that only reads the file into one freshly
# allocated buffer. Targets: at most 1.5 and 0.5 times. Usage: bench/process_ratio.sh BUILD_DIR [RUNS]
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
# The fastest run of each: the neighbours' load only ever adds time.
best() { echo "$@" | tr ' ' '\n' | grep . | sort -n | head -1; }
compare() { # scene target
    info=""
    read=""
    i=0
    while [ $i -lt "$runs" ]; do
        info="$info $(ms "$build/tools/morv3d/morv3d" info "$dir/$1")"
        read="$read $(ms "$build/bench/read_whole_file" "$dir/$1")"
        i=$((i + 1))
    done
    awk -v a="$(best $info)" -v b="$(best $read)" -v s="$(stat -c %s "$dir/$1")" -v t="$2" -v n="$1" 'BEGIN {
        printf "%s, %.1f MB: morv3d info %.1f ms, read into a fresh buffer %.1f ms: ratio %.2f (target %s) %s\n",
            n, s / 1e6, a / 1000, b / 1000, a / b, t, (a / b <= t ? "met" : "MISSED") }'
}
compare hierarchy.morv3d 1.5
# The geometry scene's vertices are not needed for the counts: less than reading the file.
compare geometry.morv3d 0.5
