#!/usr/bin/env bash
# Whole-process comparison, side by side in one run: `morv3d export` of a 60 MB geometry scene
# (200 meshes, 1,000,000 triangles) to .glb, against `assimp export` of the same geometry from
# .glb to .glb. Target: morv3d at most 0.5 x assimp's time (medians of RUNS alternating runs).
#   bench/export_vs_assimp.sh [BUILD_DIR]   (default build/release; needs morv3d and bench_scene_writer)
set -euo pipefail

build="${1:-build/release}"
runs="${RUNS:-5}"
morv3d="$build/tools/morv3d/morv3d"
writer="$build/bench/bench_scene_writer"
for program in "$morv3d" "$writer"; do
    [ -x "$program" ] || { echo "export_vs_assimp: $program is not built" >&2; exit 2; }
done
command -v assimp >/dev/null || { echo "export_vs_assimp: assimp (assimp-utils) is missing" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$writer" "$work"
# Assimp's input: the same geometry as glTF, written once by the export itself.
"$morv3d" export "$work/geometry.morv3d" "$work/geometry.glb" >/dev/null

seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

median() {
    sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ours=()
theirs=()
for ((i = 0; i < runs; ++i)); do
    ours+=("$(seconds "$morv3d" export "$work/geometry.morv3d" "$work/ours.glb")")
    theirs+=("$(seconds assimp export "$work/geometry.glb" "$work/theirs.glb")")
done
ours_median=$(printf '%s\n' "${ours[@]}" | median)
theirs_median=$(printf '%s\n' "${theirs[@]}" | median)
ratio=$(echo "$ours_median / $theirs_median" | bc -l)
printf 'scene: %s (%s bytes), %s triangles\n' "geometry.morv3d" "$(stat -c %s "$work/geometry.morv3d")" 1000000
printf 'morv3d export .morv3d -> .glb  median %.3f s  (%s)\n' "$ours_median" "${ours[*]}"
printf 'assimp export .glb -> .glb     median %.3f s  (%s)\n' "$theirs_median" "${theirs[*]}"
printf 'ratio %.3f (target <= 0.5): %s\n' "$ratio" \
    "$(echo "$ratio <= 0.5" | bc -l | sed 's/1/met/; s/0/missed/')"
