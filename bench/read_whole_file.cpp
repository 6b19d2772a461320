// The baseline of the whole-process comparison: a process that only reads a file into one
// freshly allocated buffer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: read_whole_file FILE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY);
    struct stat st = {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        return 1;
    }
    const size_t nSize = static_cast<size_t>(st.st_size);
    auto* pBuffer = static_cast<unsigned char*>(std::malloc(nSize));
    size_t nDone = 0;
    while (pBuffer != nullptr && nDone < nSize) {
        const ssize_t n = ::read(fd, pBuffer + nDone, nSize - nDone);
        if (n <= 0) {
            break;
        }
        nDone += static_cast<size_t>(n);
    }
    ::close(fd);
    unsigned nSum = 0;
    for (size_t i = 0; i < nDone; i += 4096) {
        nSum += pBuffer[i];  // the bytes are used, as a loader would
    }
    std::free(pBuffer);
    return nDone == nSize && nSum != 1u << 31 ? 0 : 1;
}
