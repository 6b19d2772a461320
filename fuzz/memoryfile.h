// A file that lives in memory but has a path, so that the fuzz targets drive the real file
// stream without touching the disk.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

struct MemoryFile {
    int fd = -1;
    std::string strPath;

    explicit MemoryFile(const char* pszName) {
        fd = memfd_create(pszName, 0);
        if (fd < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        strPath = "/proc/self/fd/" + std::to_string(fd);
    }
    // Replaces the content.
    void Fill(const uint8_t* pData, size_t nSize) const {
        if (ftruncate(fd, 0) != 0 ||
            (nSize > 0 && pwrite(fd, pData, nSize, 0) != static_cast<ssize_t>(nSize))) {
            std::abort();
        }
    }
};
