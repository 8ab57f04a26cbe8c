#include "audio/audio_failure.h"

#include <gtest/gtest.h>

#include <memory>

namespace korvanel {
namespace {

AudioResult<int> half(int value) {
    if (value % 2 != 0) {
        return audioFailure(AudioError::IllegalParameter, "odd");
    }
    return value / 2;
}

TEST(AudioResult, HoldsEitherTheValueOrTheFailureWithItsDetail) {
    const AudioResult<int> good = half(8);
    ASSERT_TRUE(good);
    EXPECT_EQ(*good, 4);
    EXPECT_EQ(good, 4);
    EXPECT_EQ(failureKind(good), AudioError::Ok);

    const AudioResult<int> bad = half(3);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().kind, AudioError::IllegalParameter);
    EXPECT_EQ(bad.error().detail, "odd");
    EXPECT_EQ(bad.value_or(-1), -1);
    EXPECT_FALSE(bad == 0) << "a failure equals no value";
}

TEST(AudioResult, AValueThatOnlyMovesCanBeTakenOut) {
    AudioResult<std::unique_ptr<int>> made = std::make_unique<int>(5);
    ASSERT_TRUE(made);
    std::unique_ptr<int> taken = std::move(made).value();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(*taken, 5);
}

TEST(AudioResult, ACallWithoutAValueSaysOnlyWhetherAndWhy) {
    EXPECT_TRUE(succeededOr(true, AudioError::Init));
    const AudioResult<void> failed = succeededOr(false, AudioError::Init);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, AudioError::Init);
    EXPECT_EQ(failureKind(failed), AudioError::Init);
}

}  // namespace
}  // namespace korvanel
