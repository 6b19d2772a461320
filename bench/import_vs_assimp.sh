#!/usr/bin/env bash
# Import of a 1,000,000-triangle .glb into a scene file, as a whole process, against
# `assimp info` of the same file (Assimp reading it with its own post-processing), run side by
# side: each command RUNS times, alternating, and the medians compared. Target: at most 1.5x.
#
#   bench/import_vs_assimp.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to the release build (make release), as for the other scripts. The model
# is a grid of 1000 x 500 quads (1,000,000 triangles, with normals and texture coordinates),
# written as OBJ and turned into .glb by `assimp export`.
set -euo pipefail
morv3d=${1:-build/release}/tools/morv3d/morv3d
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

awk -v nx=1000 -v ny=500 'BEGIN {
    for (j = 0; j <= ny; ++j) for (i = 0; i <= nx; ++i) {
        x = i / nx; y = j / ny
        printf "v %.6f %.6f %.6f\n", x, y, 0.05 * sin(12 * x) * cos(9 * y)
        printf "vt %.6f %.6f\n", x, y
    }
    print "vn 0 0 1"
    n = 0
    for (j = 0; j < ny; ++j) for (i = 0; i < nx; ++i) {
        a = j * (nx + 1) + i + 1; b = a + 1; c = a + nx + 2; d = a + nx + 1
        printf "f %d/%d/1 %d/%d/1 %d/%d/1\n", a, a, b, b, c, c
        printf "f %d/%d/1 %d/%d/1 %d/%d/1\n", a, a, c, c, d, d
        n += 2
    }
    print n " triangles" > "/dev/stderr"
}' >"$work/grid.obj"
assimp export "$work/grid.obj" "$work/grid.glb" -fglb2 >/dev/null
echo "model: $(du -h "$work/grid.glb" | cut -f1) .glb"

seconds() {  # wall time of one run of the command
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

import_times=()
assimp_times=()
for ((i = 0; i < runs; ++i)); do
    import_times+=("$(seconds "$morv3d" import "$work/grid.glb" "$work/grid.morv3d")")
    assimp_times+=("$(seconds assimp info "$work/grid.glb")")
done
"$morv3d" import "$work/grid.glb" "$work/grid.morv3d"
"$morv3d" validate "$work/grid.morv3d" >/dev/null
import_median=$(printf '%s\n' "${import_times[@]}" | median)
assimp_median=$(printf '%s\n' "${assimp_times[@]}" | median)
echo "morv3d import: ${import_times[*]} s (median $import_median s)"
echo "assimp info:   ${assimp_times[*]} s (median $assimp_median s)"
echo "ratio import / assimp info: $(echo "scale=2; $import_median / $assimp_median" | bc) (target <= 1.5)"
