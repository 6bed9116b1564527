// The engine's four level wrappers over the level library.
#include "EngineFixture.h"

#include <gmock/gmock.h>

namespace enginetest {
namespace {

using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

class MockChanterel : public CChanterel {
public:
    MOCK_METHOD(bool, Initialize, (bool, bool), (override));
    MOCK_METHOD(bool, Uninitialize, (bool), (override));
    MOCK_METHOD(float, GetRFPlaybackLevel, (long), (override));
    MOCK_METHOD(bool, SetRFPlayBackLevelALL, (float), (override));
    MOCK_METHOD(bool, GetRFPlaybackMute, (), (override));
    MOCK_METHOD(bool, SetRFPlaybackMute, (bool), (override));
};

class LevelTest : public EngineFixture {
protected:
    // Initialises the engine with a mock selector; expectations are set on mock_ by the caller first.
    HRESULT StartWithMock(bool initializeResult = true) {
        auto mock = std::make_unique<NiceMock<MockChanterel>>();
        mock_ = mock.get();
        ON_CALL(*mock_, Initialize(true, true)).WillByDefault(Return(initializeResult));
        ON_CALL(*mock_, SetRFPlaybackMute(_)).WillByDefault(Return(true));
        ON_CALL(*mock_, SetRFPlayBackLevelALL(_)).WillByDefault(Return(true));
        auto holder = std::make_shared<std::unique_ptr<CChanterel>>(std::move(mock));
        engine_.SetLevelSelectorFactory([holder] { return std::move(*holder); });
        return Start("dsf:" + DsfPath());
    }
    NiceMock<MockChanterel>* mock_ = nullptr;
};

TEST_F(LevelTest, WithoutASelectorEverythingReportsFailure) {
    float level = -1;
    EXPECT_EQ(engine_.SetLevel(0.5f), E_FAIL);
    EXPECT_EQ(engine_.GetLevel(&level), E_FAIL);
    EXPECT_FALSE(engine_.SetMute(true));
    EXPECT_FALSE(engine_.GetMute());
}

TEST_F(LevelTest, ASelectorThatCannotBeMadeFailsInitializeButTheThreadsRun) {
    engine_.SetLevelSelectorFactory([] { return std::unique_ptr<CChanterel>(); });
    EXPECT_EQ(Start("dsf:" + DsfPath()), E_FAIL);
    EXPECT_EQ(engine_.SetLevel(0.5f), E_FAIL);
    const std::string a = ConstantWav("a.wav", 16, 0.2, 0.25);
    PlayFiles({a});
    EXPECT_TRUE(WaitForEnd());
}

TEST_F(LevelTest, ASelectorThatFailsToInitialiseFailsInitialize) {
    EXPECT_EQ(StartWithMock(false), E_FAIL);
    EXPECT_EQ(engine_.SetLevel(0.5f), E_FAIL);
}

TEST_F(LevelTest, SetLevelAlwaysUnmutesAndSkipsAnUnchangedLevel) {
    ASSERT_EQ(StartWithMock(), S_OK);
    {
        ::testing::InSequence order;
        EXPECT_CALL(*mock_, SetRFPlaybackMute(false)).WillOnce(Return(true));
        EXPECT_CALL(*mock_, SetRFPlayBackLevelALL(0.4f)).WillOnce(Return(true));
        EXPECT_CALL(*mock_, SetRFPlaybackMute(false)).WillOnce(Return(true));
    }
    EXPECT_EQ(engine_.SetLevel(0.4f), S_OK);
    EXPECT_EQ(engine_.SetLevel(0.4f), S_OK); // unmutes only
    EXPECT_EQ(engine_.CurrentLevel(), 0.4f);
}

TEST_F(LevelTest, ARejectedLevelKeepsTheOldOneSoTheSameLevelIsTriedAgain) {
    ASSERT_EQ(StartWithMock(), S_OK);
    EXPECT_CALL(*mock_, SetRFPlayBackLevelALL(0.7f)).WillOnce(Return(false)).WillOnce(Return(true));
    EXPECT_EQ(engine_.SetLevel(0.7f), E_FAIL);
    EXPECT_EQ(engine_.CurrentLevel(), 0.0f);
    EXPECT_EQ(engine_.SetLevel(0.7f), S_OK);
    EXPECT_EQ(engine_.CurrentLevel(), 0.7f);
}

TEST_F(LevelTest, GetLevelTakesTheLouderChannelAndRemembersIt) {
    ASSERT_EQ(StartWithMock(), S_OK);
    ON_CALL(*mock_, GetRFPlaybackLevel(0)).WillByDefault(Return(0.3f));
    ON_CALL(*mock_, GetRFPlaybackLevel(1)).WillByDefault(Return(0.5f));
    float level = 0;
    EXPECT_EQ(engine_.GetLevel(&level), S_OK);
    EXPECT_EQ(level, 0.5f);
    EXPECT_CALL(*mock_, SetRFPlayBackLevelALL(_)).Times(0);
    EXPECT_CALL(*mock_, SetRFPlaybackMute(false)).WillOnce(Return(true));
    EXPECT_EQ(engine_.SetLevel(0.5f), S_OK);
}

TEST_F(LevelTest, MuteGoesToTheSelectorAndShutdownUninitialisesIt) {
    ASSERT_EQ(StartWithMock(), S_OK);
    EXPECT_CALL(*mock_, SetRFPlaybackMute(true)).WillOnce(Return(true));
    EXPECT_CALL(*mock_, GetRFPlaybackMute()).WillOnce(Return(true));
    EXPECT_TRUE(engine_.SetMute(true));
    EXPECT_TRUE(engine_.GetMute());
    EXPECT_CALL(*mock_, Uninitialize(false)).WillOnce(Return(true));
    engine_.Shutdown();
    EXPECT_EQ(engine_.SetLevel(0.1f), E_FAIL);
}

TEST_F(LevelTest, TheRealSelectorStartsAtFullLevel) {
    ASSERT_EQ(Start("dsf:" + DsfPath()), S_OK);
    float level = 0;
    EXPECT_EQ(engine_.GetLevel(&level), S_OK);
    EXPECT_EQ(level, 1.0f);
    EXPECT_TRUE(engine_.SetMute(true));
    EXPECT_TRUE(engine_.GetMute());
    EXPECT_EQ(engine_.SetLevel(0.25f), S_OK);
    EXPECT_FALSE(engine_.GetMute());
}

} // namespace
} // namespace enginetest
