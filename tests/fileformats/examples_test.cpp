#include <gtest/gtest.h>

#include "examples.h"
#include "support/tempfile.h"

// The committed samples are what the generator writes today: run `make examples` after
// changing it.
TEST(Examples, CommittedSamplesMatchAFreshGeneration) {
    CTempDir dir;
    ASSERT_EQ(WriteAllExamples(dir.Path()), S_OK);
    for (const char* pszName : {"sample.morv"}) {
        const std::vector<uint8_t> fresh = ReadWholeFile(dir.File(pszName));
        const std::vector<uint8_t> committed =
            ReadWholeFile(std::string(MORV_SOURCE_DIR) + "/examples/" + pszName);
        EXPECT_FALSE(fresh.empty());
        EXPECT_EQ(fresh, committed) << pszName;
    }
}
