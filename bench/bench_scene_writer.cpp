// Writes the benchmarks' large scenes (benchscenes.h) into a folder, for the whole-process
// comparisons of bench/*.sh.
#include <cstdio>

#include "benchscenes.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_scene_writer DIRECTORY\n");
        return 2;
    }
    const HRESULT hr = WriteBenchScenes(argv[1]);
    if (FAILED(hr)) {
        std::fprintf(stderr, "writing %s failed: 0x%08X\n", argv[1], static_cast<unsigned>(hr));
        return 1;
    }
    return 0;
}
