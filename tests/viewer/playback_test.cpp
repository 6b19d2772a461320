#include "viewer/playback.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/3dobjects/mesh.h"
#include "viewer/document.h"
#include "viewer/testscene.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

CPlaybackClock Playing(uint32_t dwEnd, bool bLoop, double dTime = 0.0) {
    CPlaybackClock clock;
    clock.SetEndTime(dwEnd);
    clock.SetLoop(bLoop);
    clock.SetTime(dTime);
    clock.Play();
    return clock;
}

}  // namespace

// The cases of tests/data/viewer/playback_advance.tsv.
TEST(PlaybackClock, Advance) {
    const std::vector<std::vector<std::string>> rows = ReadTable("viewer/playback_advance.tsv");
    ASSERT_GE(rows.size(), 10u);
    for (const std::vector<std::string>& f : rows) {
        ASSERT_EQ(f.size(), 9u) << f[0];
        CPlaybackClock clock = Playing(std::stoul(f[1]), f[2] == "1", std::stod(f[3]));
        clock.SetSpeed(std::stod(f[4]));
        clock.Advance(std::stod(f[5]));
        EXPECT_DOUBLE_EQ(clock.CurrentTime(), std::stod(f[6])) << f[0] << " " << f[8];
        EXPECT_EQ(clock.IsPlaying(), f[7] == "1") << f[0] << " " << f[8];
    }
}

TEST(PlaybackClock, PausedClockStandsStill) {
    CPlaybackClock clock = Playing(160, true, 40);
    clock.Pause();
    clock.Advance(1.0);
    EXPECT_EQ(clock.Time(), 40u);
}

TEST(PlaybackClock, RateStepStopAndEnd) {
    CPlaybackClock clock = Playing(160, false);
    for (double dBad : {0.0, -5.0, kNaN, kInf}) {
        EXPECT_FALSE(clock.SetRate(dBad));
    }
    EXPECT_TRUE(clock.SetRate(100.0));
    clock.Advance(0.255);
    EXPECT_EQ(clock.Time(), 25u);  // 25.5: the whole units reached

    const struct {
        int nUnits;
        uint32_t dwTime;
    } steps[] = {{1, 26}, {-30, 0}, {1000, 160}, {std::numeric_limits<int>::min(), 0}};
    for (const auto& step : steps) {
        clock.Step(step.nUnits);
        EXPECT_EQ(clock.Time(), step.dwTime) << step.nUnits;
        EXPECT_FALSE(clock.IsPlaying());
    }
    clock.Play();  // from the end without loop: again from the start
    EXPECT_EQ(clock.Time(), 0u);
    EXPECT_TRUE(clock.IsPlaying());

    clock.SetTime(500);
    EXPECT_EQ(clock.Time(), 160u);
    clock.SetEndTime(100);  // a smaller scene: the time follows
    EXPECT_EQ(clock.Time(), 100u);
    clock.SetTime(-3);
    EXPECT_EQ(clock.Time(), 0u);
    clock.SetTime(55.5);
    clock.Stop();
    EXPECT_EQ(clock.Time(), 0u);
    EXPECT_FALSE(clock.IsPlaying());
}

TEST(PlaybackKeys, KeyTimesOfTheSample) {
    CMorv3dViewerDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(MORV_SOURCE_DIR "/examples/sample.morv3d"));
    CPlaybackClock clock;
    clock.SetEndTimeFrom(doc._pNode);
    EXPECT_EQ(clock.EndTime(), 160u);

    CQVR3DObject* pFlag = doc._pNode->FindByName("flag");
    ASSERT_NE(pFlag, nullptr);
    ASSERT_EQ(pFlag->GetChildCount(), 1u);
    const std::vector<uint32_t> keys = {0, 80, 160};
    EXPECT_EQ(KeyTimes(doc._pNode->FindByName("dmyPivot")), keys);
    EXPECT_EQ(KeyTimes(doc._pNode->FindByName("arm")), keys);
    EXPECT_EQ(KeyTimes(pFlag->GetChild(0)), keys);  // the morphing mesh
    EXPECT_TRUE(KeyTimes(pFlag).empty());
    EXPECT_TRUE(KeyTimes(nullptr).empty());
}

TEST(PlaybackKeys, TracksMergedAndJumps) {
    CQVR3DNode node;
    for (uint32_t dwTime : {50u, 10u, 30u}) {  // out of order, as a file may hold them
        PositionKey key;
        key.dwTime = dwTime;
        node.transform.PositionKeys().push_back(key);
    }
    for (uint32_t dwTime : {30u, 70u}) {
        RotationKey key;
        key.dwTime = dwTime;
        node.transform.RotationKeys().push_back(key);
    }
    const std::vector<uint32_t> keys = KeyTimes(&node);
    EXPECT_EQ(keys, (std::vector<uint32_t>{10, 30, 50, 70}));

    const struct {
        double dFrom, dNext, dPrevious;
    } jumps[] = {{0, 10, 0},   {10, 30, 10}, {30.5, 50, 30},
                 {50, 70, 30}, {70, 70, 50}, {90, 90, 70}};
    for (const auto& jump : jumps) {
        EXPECT_EQ(NextKeyTime(keys, jump.dFrom), jump.dNext) << jump.dFrom;
        EXPECT_EQ(PreviousKeyTime(keys, jump.dFrom), jump.dPrevious) << jump.dFrom;
    }
    EXPECT_EQ(NextKeyTime({}, 12.0), 12.0);
    EXPECT_EQ(PreviousKeyTime({}, 12.0), 12.0);
}
