// morv_examples DIRECTORY: writes the sample files that examples/ holds.
// morv_examples --geometry FILE: writes the benchmarks' geometry scene.
#include <cstdio>
#include <string>

#include "examples.h"

int main(int argc, char** argv) {
    const bool bGeometry = argc == 3 && std::string(argv[1]) == "--geometry";
    if (argc != 2 && !bGeometry) {
        std::fprintf(stderr, "Usage: morv_examples DIRECTORY | --geometry FILE\n");
        return 2;
    }
    const HRESULT hr = bGeometry ? WriteGeometryScene(argv[2]) : WriteAllExamples(argv[1]);
    if (FAILED(hr)) {
        std::fprintf(stderr, "morv_examples: 0x%08X (%s)\n", static_cast<unsigned>(hr),
                     HResultMessage(hr));
        return 1;
    }
    return 0;
}
