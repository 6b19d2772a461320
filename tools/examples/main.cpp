// morv_examples DIRECTORY: writes the sample files that examples/ holds.
// morv_examples --bench DIRECTORY: writes the benchmarks' large scenes.
#include <cstdio>
#include <string>

#include "benchscenes.h"
#include "examples.h"

int main(int argc, char** argv) {
    const bool bBench = argc == 3 && std::string(argv[1]) == "--bench";
    if (argc != 2 && !bBench) {
        std::fprintf(stderr,
                     "Usage: morv_examples DIRECTORY\n       morv_examples --bench DIRECTORY\n");
        return 2;
    }
    const HRESULT hr = bBench ? WriteBenchScenes(argv[2]) : WriteAllExamples(argv[1]);
    if (FAILED(hr)) {
        std::fprintf(stderr, "morv_examples: 0x%08X (%s)\n", static_cast<unsigned>(hr),
                     HResultMessage(hr));
        return 1;
    }
    return 0;
}
