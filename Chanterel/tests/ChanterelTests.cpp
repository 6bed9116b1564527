#include "Chanterel/CChanterel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

class ChanterelTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(chanterel_.Initialize(true, true)); }
    CChanterel chanterel_;
};

TEST_F(ChanterelTest, StartsAtFullLevelUnmuted) {
    EXPECT_EQ(chanterel_.GetRFPlaybackLevel(0), 1.0f);
    EXPECT_EQ(chanterel_.GetRFPlaybackLevel(1), 1.0f);
    EXPECT_FALSE(chanterel_.GetRFPlaybackMute());
}

TEST_F(ChanterelTest, LevelAppliesToBothChannelsAndUnknownChannelsReadSilent) {
    ASSERT_TRUE(chanterel_.SetRFPlayBackLevelALL(0.25f));
    EXPECT_EQ(chanterel_.GetRFPlaybackLevel(0), 0.25f);
    EXPECT_EQ(chanterel_.GetRFPlaybackLevel(1), 0.25f);
    EXPECT_EQ(chanterel_.GetRFPlaybackLevel(2), 0.0f);
    EXPECT_EQ(chanterel_.GetRFPlaybackLevel(-1), 0.0f);
}

TEST_F(ChanterelTest, LevelsOutsideTheScaleAreRefusedAndKeepTheOldLevel) {
    ASSERT_TRUE(chanterel_.SetRFPlayBackLevelALL(0.5f));
    EXPECT_FALSE(chanterel_.SetRFPlayBackLevelALL(1.01f));
    EXPECT_FALSE(chanterel_.SetRFPlayBackLevelALL(-0.01f));
    EXPECT_FALSE(chanterel_.SetRFPlayBackLevelALL(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_EQ(chanterel_.GetRFPlaybackLevel(0), 0.5f);
    EXPECT_TRUE(chanterel_.SetRFPlayBackLevelALL(0.0f));
    EXPECT_TRUE(chanterel_.SetRFPlayBackLevelALL(1.0f));
}

TEST_F(ChanterelTest, MuteKeepsTheLevel) {
    ASSERT_TRUE(chanterel_.SetRFPlayBackLevelALL(0.3f));
    ASSERT_TRUE(chanterel_.SetRFPlaybackMute(true));
    EXPECT_TRUE(chanterel_.GetRFPlaybackMute());
    EXPECT_EQ(chanterel_.GetRFPlaybackLevel(0), 0.3f);
    ASSERT_TRUE(chanterel_.SetRFPlaybackMute(false));
    EXPECT_FALSE(chanterel_.GetRFPlaybackMute());
}

TEST_F(ChanterelTest, EverythingFailsAfterUninitialize) {
    EXPECT_TRUE(chanterel_.Uninitialize(false));
    EXPECT_FALSE(chanterel_.Uninitialize(false));
    EXPECT_FALSE(chanterel_.SetRFPlayBackLevelALL(0.5f));
    EXPECT_FALSE(chanterel_.SetRFPlaybackMute(true));
    EXPECT_FALSE(chanterel_.GetRFPlaybackMute());
    EXPECT_EQ(chanterel_.GetRFPlaybackLevel(0), 0.0f);
}

} // namespace
