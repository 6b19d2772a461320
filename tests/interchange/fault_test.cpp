// Every allocation of our import and export code fails in turn (Assimp's own reading and writing
// are not counted): each run fails with a result or writes what the whole run wrote, throws
// nothing, and a failed run leaves no file behind.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <map>

#include "abstractdata/debugreport.h"
#include "interchange/export.h"
#include "interchange/importguard.h"
#include "interchange/importmodels.h"
#include "interchange/importscene.h"
#include "support/failingallocation.h"
#include "support/tempfile.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

const std::string kData = MORV_SOURCE_DIR "/tests/data/interchange";
using Work = std::function<HRESULT(const std::string& strOut)>;

struct Run {
    HRESULT hr = E_FAIL;
    bool bThrew = false;
    uint64_t qwCounted = 0;
    std::map<std::string, std::vector<uint8_t>> files;  // what the folder holds after the run
};

Run RunFailing(uint64_t qwFailAt, const std::string& strOut, const Work& work) {
    CTempDir dir;
    Run run;
    const std::string strPath = dir.File(strOut);
    SetFailingAllocationForTest(qwFailAt, &AllocationCountingOn);
    try {
        CAllocationCounting counting(true);
        run.hr = work(strPath);
    } catch (...) {
        run.bThrew = true;
    }
    run.qwCounted = CountedAllocationsForTest();
    SetFailingAllocationForTest(0, nullptr);
    for (const std::string& strName : FilesIn(dir.Path())) {
        run.files[strName] = ReadWholeFile(dir.File(strName));
    }
    return run;
}

void FailEachInTurn(const std::string& strCase, const std::string& strOut, const Work& work) {
    SCOPED_TRACE(strCase);
    const bool bReports = SetReportsEnabled(false);
    // The second run is the reference: the first export animates a loaded tree for the first
    // time, which replaces a sheared node's stored matrix.
    RunFailing(0, strOut, work);
    const Run whole = RunFailing(0, strOut, work);
    EXPECT_TRUE(SUCCEEDED(whole.hr) && !whole.files.empty() && !whole.bThrew);
    uint64_t qwDoneWithout = 0;
    for (uint64_t n = 1; n <= whole.qwCounted; ++n) {
        const Run run = RunFailing(n, strOut, work);
        EXPECT_FALSE(run.bThrew) << "allocation " << n;
        qwDoneWithout += SUCCEEDED(run.hr) ? 1 : 0;
        EXPECT_TRUE(run.files == (SUCCEEDED(run.hr) ? whole.files : decltype(run.files){}))
            << "allocation " << n << " left " << run.files.size() << " files";
    }
    SetReportsEnabled(bReports);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
    std::printf("%s: %llu allocations failed in turn, %llu done without\n", strCase.c_str(),
                static_cast<unsigned long long>(whole.qwCounted),
                static_cast<unsigned long long>(qwDoneWithout));
}

// The rows of allocation_faults.tsv: imports of models and exports of scenes.
TEST(AllocationFault, FailsCleanly) {
    for (const std::vector<std::string>& row : ReadTable("interchange/allocation_faults.tsv")) {
        ASSERT_EQ(row.size(), 4u) << row[0];
        const bool bPackaged = row[2].rfind("models/", 0) == 0;
        if (bPackaged && TestModelsDir().empty()) {
            continue;
        }
        const std::string strIn =
            bPackaged ? TestModelsDir() + row[2].substr(6) : kData + "/" + row[2];
        const std::string strTextures = kData + "/textures";  // allocated outside the count
        LoadedScene scene;
        ASSERT_TRUE(row[1] == "import" || scene.Open(strIn)) << row[0];
        FailEachInTurn(row[0] + " " + row[1] + " " + row[2] + " as " + row[3], "out." + row[3],
                       [&](const std::string& strOut) {
                           return row[1] == "import"
                                      ? ImportScene(strIn, strOut, nullptr)
                                      : ExportScene(scene.materials, scene.pRoot, strTextures,
                                                    strOut, {}, nullptr);
                       });
    }
}

// Writing stops at a file size limit, as on a full device: whichever file of an export meets it
// (a texture, the buffer, the output; Assimp's own archive), the export fails and leaves nothing.
TEST(WriteFault, FullDeviceLeavesNothing) {
    LoadedScene scene;
    ASSERT_TRUE(scene.Open(kData + "/scenes/static.morv3d"));
    const std::string strTextures = kData + "/textures";
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    for (const char* pszOut : {"out.glb", "out.gltf", "out.obj", "out.3mf"}) {
        for (const rlim_t limit : {0, 80, 300}) {
            CTempDir dir;
            const rlimit capped{limit, unlimited.rlim_max};
            setrlimit(RLIMIT_FSIZE, &capped);
            const HRESULT hr = ExportScene(scene.materials, scene.pRoot, strTextures,
                                           dir.File(pszOut), {}, nullptr);
            setrlimit(RLIMIT_FSIZE, &unlimited);
            EXPECT_TRUE(FAILED(hr)) << pszOut << " at " << limit << " bytes";
            EXPECT_EQ(FilesIn(dir.Path()).size(), 0u) << pszOut << " at " << limit << " bytes";
        }
    }
    std::signal(SIGXFSZ, previous);
}

}  // namespace
