#!/usr/bin/env bash
# Builds make_scenes.cpp against the scene libraries of a build folder (e.g. build/dbg) and
# writes the scenes beside this script.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../../.." && pwd)
build=${1:?usage: make_scenes.sh BUILD_DIR}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
lib=$build/src
g++ -std=c++20 -O1 -I"$root/src" -I"$build/src" -o "$tmp/make_scenes" "$here/make_scenes.cpp" \
    "$lib/libmorv_scene.a" "$lib/libmorv_engine.a" "$lib/libmorv_container.a" \
    "$lib/libmorv_abstractdata.a"
"$tmp/make_scenes" "$here"
