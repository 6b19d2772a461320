// Writes the hierarchy scene of the loading benchmark (tools/examples/benchscenes.h) to a
// file, for the whole-process comparison of bench/process_ratio.sh.
#include <cstdio>

#include "benchscenes.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_scene_writer OUT.morv3d\n");
        return 2;
    }
    const HRESULT hr = WriteMorv3DScene(argv[1], BenchHierarchyScene());
    if (FAILED(hr)) {
        std::fprintf(stderr, "writing %s failed: 0x%08X\n", argv[1], static_cast<unsigned>(hr));
        return 1;
    }
    return 0;
}
