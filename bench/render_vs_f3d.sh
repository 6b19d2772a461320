#!/usr/bin/env bash
# Time to picture as a whole process: `morv3d render` of the geometry scene (200 meshes,
# 1,000,000 triangles) at 800x600 against F3D drawing the same geometry stored as glTF binary
# (F3D needs a display: it runs under xvfb-run, whose start is timed apart and subtracted).
# Runs alternate so that both see the same machine; the medians and their ratios are printed.
# Usage: bench/render_vs_f3d.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build/release}
runs=${2:-5}
for tool in f3d assimp xvfb-run; do
    command -v "$tool" >/dev/null || { echo "render_vs_f3d: $tool is missing (make bench installs it)"; exit 1; }
done
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$build/bench/bench_scene_writer" "$dir"
assimp export "$dir/geometry.obj" "$dir/geometry.glb" >/dev/null

measure() {  # prints "seconds KiB" of the command
    /usr/bin/time -f "%e %M" -o "$dir/time" "$@" >/dev/null 2>&1 || true
    cat "$dir/time"
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

: >"$dir/ours"; : >"$dir/f3d"
for _ in $(seq "$runs"); do
    measure "$build/tools/morv3d/morv3d" render "$dir/geometry.morv3d" "$dir/ours.png" \
        --size 800x600 >>"$dir/ours"
    # F3D's own process is timed inside xvfb-run, so the X server's start does not count.
    xvfb-run -a /usr/bin/time -f "%e %M" -o "$dir/f3dtime" \
        f3d "$dir/geometry.glb" --output="$dir/f3d.png" --resolution=800,600 >/dev/null 2>&1 || true
    cat "$dir/f3dtime" >>"$dir/f3d"
done
ours_s=$(cut -d' ' -f1 "$dir/ours" | median); ours_k=$(cut -d' ' -f2 "$dir/ours" | median)
f3d_s=$(cut -d' ' -f1 "$dir/f3d" | median); f3d_k=$(cut -d' ' -f2 "$dir/f3d" | median)
awk -v os="$ours_s" -v ok="$ours_k" -v fs="$f3d_s" -v fk="$f3d_k" 'BEGIN {
    printf "morv3d render: %.2f s, %.0f MiB peak\n", os, ok / 1024
    printf "f3d:           %.2f s, %.0f MiB peak\n", fs, fk / 1024
    printf "time ratio %.2f (target 0.3), memory ratio %.2f (target 0.5)\n", os / fs, ok / fk
}'
