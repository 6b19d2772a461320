#include <gtest/gtest.h>

#include "examples.h"
#include "support/tempfile.h"

// The committed samples are what the generator writes today: run `make examples` after
// changing it.
TEST(Examples, CommittedSamplesMatchAFreshGeneration) {
    CTempDir dir;
    ASSERT_EQ(WriteAllExamples(dir.Path()), S_OK);
    std::vector<std::string> names = {"sample.morv", "sample.morv3d"};
    names.insert(names.end(), SampleTextureNames().begin(), SampleTextureNames().end());
    for (const std::string& strName : names) {
        const std::vector<uint8_t> fresh = ReadWholeFile(dir.File(strName));
        const std::vector<uint8_t> committed =
            ReadWholeFile(std::string(MORV_SOURCE_DIR) + "/examples/" + strName);
        EXPECT_FALSE(fresh.empty());
        EXPECT_EQ(fresh, committed) << strName;
    }
}
