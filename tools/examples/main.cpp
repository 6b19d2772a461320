// morv_examples DIRECTORY: writes the sample files that examples/ holds.
#include <cstdio>

#include "examples.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: morv_examples DIRECTORY\n");
        return 2;
    }
    const HRESULT hr = WriteAllExamples(argv[1]);
    if (FAILED(hr)) {
        std::fprintf(stderr, "morv_examples: 0x%08X (%s)\n", static_cast<unsigned>(hr),
                     HResultMessage(hr));
        return 1;
    }
    return 0;
}
