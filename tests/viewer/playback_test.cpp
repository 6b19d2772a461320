#include "viewer/playback.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "viewer/document.h"
#include "viewer/testscene.h"

// The steps of tests/data/viewer/playback_steps.tsv, on one clock.
TEST(PlaybackClock, Steps) {
    const std::vector<std::vector<std::string>> rows = ReadTable("viewer/playback_steps.tsv");
    ASSERT_GE(rows.size(), 10u);
    CPlaybackClock clock;
    for (const std::vector<std::string>& f : rows) {
        ASSERT_GE(f.size(), 6u) << f[0];
        std::string strReturned = "-";
        if (f[1] == "start") {
            std::istringstream words(f[2]);
            std::string strEnd, strLoop, strFrom, strSpeed;  // "nan" is no number to a stream
            words >> strEnd >> strLoop >> strFrom >> strSpeed;
            clock = CPlaybackClock();
            clock.SetEndTime(std::stoul(strEnd));
            clock.SetLoop(strLoop == "1");
            clock.SetTime(std::stod(strFrom));
            clock.Play();
            clock.SetSpeed(std::stod(strSpeed));
        } else if (f[1] == "pause") {
            clock.Pause();
        } else if (f[1] == "play") {
            clock.Play();
        } else if (f[1] == "stop") {
            clock.Stop();
        } else if (f[1] == "advance") {
            clock.Advance(std::stod(f[2]));
        } else if (f[1] == "step") {
            clock.Step(std::stoi(f[2]));
        } else if (f[1] == "time") {
            clock.SetTime(std::stod(f[2]));
        } else {
            clock.SetEndTime(std::stoul(f[2]));
        }
        char szTime[64];
        std::snprintf(szTime, sizeof(szTime), "%.15g", clock.CurrentTime());
        std::string strTime = szTime;
        if (clock.Time() != clock.CurrentTime()) {
            strTime += " (" + std::to_string(clock.Time()) + ")";
        }
        EXPECT_EQ(strReturned + "\t" + strTime + "\t" + (clock.IsPlaying() ? "1" : "0"),
                  f[3] + "\t" + f[4] + "\t" + f[5])
            << f[0] << " " << f[1] << " " << f[2];
    }
}

TEST(PlaybackKeys, KeyTimesOfTheSample) {
    CMorv3dViewerDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(MORV_SOURCE_DIR "/examples/sample.morv3d"));
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

// The document holds the one clock and the scene's folder; the root follows the clock's whole
// units, and only when they changed.
TEST(PlaybackKeys, TheDocumentsClockAndFolder) {
    CMorv3dViewerDoc doc;
    EXPECT_FALSE(doc.FollowClock());
    ASSERT_TRUE(doc.OnOpenDocument(MORV_SOURCE_DIR "/examples/sample.morv3d"));
    EXPECT_EQ(doc.SceneDir(), MORV_SOURCE_DIR "/examples");
    EXPECT_FALSE(doc.FollowClock());  // a loaded root is at 0 already
    doc.Clock().SetEndTime(160);
    doc.Clock().SetTime(80.5);
    EXPECT_TRUE(doc.FollowClock());
    EXPECT_EQ(doc._pNode->dwRequestedTime, 80u);
    doc.Clock().SetTime(80.9);
    EXPECT_FALSE(doc.FollowClock());
    ASSERT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.Clock().CurrentTime(), 0.0);
    EXPECT_EQ(doc.Clock().EndTime(), 0u);
    EXPECT_TRUE(doc.SceneDir().empty());
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
