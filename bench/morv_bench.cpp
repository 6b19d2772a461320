// The container's reading side against plain reads of the same bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "bench_ratio.h"
#include "fileformats/morv/morv.h"

namespace {

struct BenchFiles {
    std::string strDir;
    std::string strDirectoryFile;  // 1,000,000 chunks in three levels, no payloads
    std::string strPayloadFile;    // 100,000 small payloads under the root
    uint32_t dwPayloadBytes = 0;

    BenchFiles() {
        SetReportsEnabled(false);
        // Freed memory stays with the process, for the reader and the baseline alike: this
        // measures the work of reading, not how slowly the machine hands out fresh pages
        // (about 3.5 ms per MiB on these virtual machines, paid by whoever touches new memory).
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
        strDir = (std::filesystem::temp_directory_path() / "morvbench-XXXXXX").string();
        if (mkdtemp(strDir.data()) == nullptr) {
            std::abort();
        }
        strDirectoryFile = strDir + "/directory.morv";
        strPayloadFile = strDir + "/payloads.morv";

        CMorvFile file;
        Check(file.Open(strDirectoryFile, true));
        Check(file.BeginWrite());
        for (int i = 0; i < 1000; ++i) {
            CMorvChunk* pGroup = nullptr;
            Check(file.CreateChunk(&pGroup, 0x10001, file.GetRootChunk()));
            for (int j = 0; j < 999; ++j) {
                CMorvChunk* pLeaf = nullptr;
                Check(file.CreateChunk(&pLeaf, 0x10002 + (j & 1), pGroup));
            }
        }
        Check(file.EndWrite());

        Check(file.Open(strPayloadFile, true));
        Check(file.BeginWrite());
        std::vector<uint8_t> bytes(128, 0x5A);
        for (uint32_t i = 0; i < 100000; ++i) {
            CMorvChunk* pChunk = nullptr;
            Check(file.CreateChunk(&pChunk, 0x10000, file.GetRootChunk()));
            const uint32_t dwSize = 16 + (i * 37) % 97;  // 16 to 112 bytes
            Check(file.WriteChunk(bytes.data(), dwSize, pChunk));
            dwPayloadBytes += dwSize;
        }
        Check(file.EndWrite());
    }
    ~BenchFiles() { std::filesystem::remove_all(strDir); }

    static void Check(HRESULT hr) {
        if (FAILED(hr)) {
            std::fprintf(stderr, "bench set-up failed: 0x%08X\n", static_cast<unsigned>(hr));
            std::abort();
        }
    }
};

const BenchFiles& Files() {
    static BenchFiles files;
    return files;
}

// Reads [qwOffset, + nSize) of a file with one plain read.
void PlainRead(const std::string& strPath, std::vector<uint8_t>& buffer, off_t nOffset) {
    const int fd = ::open(strPath.c_str(), O_RDONLY);
    const ssize_t nGot = ::pread(fd, buffer.data(), buffer.size(), nOffset);
    benchmark::DoNotOptimize(nGot);
    ::close(fd);
}

void BM_ReadDirectory(benchmark::State& state) {
    const BenchFiles& files = Files();
    size_t nBytesPerChunk = 0;
    for (auto _ : state) {
        const size_t nBefore = mallinfo2().uordblks;
        CMorvFile file;
        BenchFiles::Check(file.Open(files.strDirectoryFile, false));
        BenchFiles::Check(file.ReadHeader());
        BenchFiles::Check(file.ReadDirectory());
        nBytesPerChunk = (mallinfo2().uordblks - nBefore) / 1000001;
    }
    state.counters["bytes_per_chunk"] = static_cast<double>(nBytesPerChunk);
    state.counters["chunks_per_s"] =
        benchmark::Counter(1000001.0, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReadDirectory_Baseline(benchmark::State& state) {
    const BenchFiles& files = Files();
    std::vector<uint8_t> buffer(1000001u * 16u);
    for (auto _ : state) {
        PlainRead(files.strDirectoryFile, buffer, 44);
    }
}

void BM_ReadPayloads(benchmark::State& state) {
    const BenchFiles& files = Files();
    CMorvFile file;
    BenchFiles::Check(file.Open(files.strPayloadFile, false));
    BenchFiles::Check(file.ReadHeader());
    BenchFiles::Check(file.ReadDirectory());
    std::vector<uint8_t> buffer(128);
    for (auto _ : state) {
        for (CMorvChunk* pChunk : file.GetRootChunk()->Children()) {
            BenchFiles::Check(file.ReadChunk(buffer.data(), pChunk->dwSize, 0, pChunk));
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["payloads_per_s"] =
        benchmark::Counter(100000.0, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReadPayloads_Baseline(benchmark::State& state) {
    const BenchFiles& files = Files();
    std::vector<uint8_t> buffer(files.dwPayloadBytes);
    for (auto _ : state) {
        PlainRead(files.strPayloadFile, buffer, 44);
    }
}

}  // namespace

BENCHMARK(BM_ReadDirectory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadDirectory_Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPayloads)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPayloads_Baseline)->Unit(benchmark::kMillisecond);

MORV_BENCH_RATIO("BM_ReadDirectory", "BM_ReadDirectory_Baseline", 10.0);
MORV_BENCH_RATIO("BM_ReadPayloads", "BM_ReadPayloads_Baseline", 5.0);
