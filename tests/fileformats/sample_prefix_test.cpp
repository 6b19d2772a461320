// Every prefix of the sample scene, as a download or a copy cut short would leave it, loads or
// fails cleanly; the sanitizers and the leak check watch every one.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>

#include "abstractdata/debugreport.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "support/tempfile.h"

TEST(SamplePrefixes, EveryPrefixLoadsOrFailsCleanly) {
    const std::vector<uint8_t> sample =
        ReadWholeFile(std::string(MORV_SOURCE_DIR) + "/examples/sample.morv3d");
    ASSERT_GT(sample.size(), 1000u);
    const bool bWasOn = SetReportsEnabled(false);
    // A file in memory: thousands of files on disk would measure the disk.
    const int fd = memfd_create("prefix.morv3d", 0);
    ASSERT_GE(fd, 0);
    const std::string strPath = "/proc/self/fd/" + std::to_string(fd);
    size_t nComplete = 0;
    for (size_t nLength = 0; nLength <= sample.size(); ++nLength) {
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(pwrite(fd, sample.data(), nLength, 0), static_cast<ssize_t>(nLength));
        CMorv3DSceneLoader loader(nullptr);
        const HRESULT hrMaterials = loader.Load(strPath, MORV3D_LOAD_MATERIALS);
        const HRESULT hrObjects = loader.Load(strPath, MORV3D_LOAD_OBJECTS);
        std::unique_ptr<CQVR3DNode> pRoot(loader.DetachRoot());
        if (SUCCEEDED(hrMaterials) && SUCCEEDED(hrObjects)) {
            ++nComplete;
        }
        if (pRoot) {
            // What was loaded can be used: animated, searched, picked.
            pRoot->SetTime(pRoot->GetAnimationTimeHierarchy() / 2);
            PickHitList hits;
            pRoot->Pick(PickRay{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}}, hits);
        }
    }
    SetReportsEnabled(bWasOn);
    close(fd);
    // The directory stands at the end of the file: only the whole file loads completely.
    EXPECT_EQ(nComplete, 1u);
}
