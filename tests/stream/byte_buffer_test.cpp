#include "stream/byte_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace korvanel {
namespace {

constexpr std::size_t kStep = ByteBuffer::kStep;

TEST(ByteBuffer, FirstAllocationIsExactThenGrowsInSteps) {
    ByteBuffer buffer;
    EXPECT_EQ(buffer.data(), nullptr);
    ASSERT_TRUE(buffer.resize(10));
    EXPECT_EQ(buffer.size(), 10u);
    EXPECT_EQ(buffer.capacity(), 10u);

    ASSERT_TRUE(buffer.resize(11));
    EXPECT_EQ(buffer.capacity(), kStep);
    ASSERT_TRUE(buffer.resize(kStep));  // fits exactly: no reallocation
    EXPECT_EQ(buffer.capacity(), kStep);
    ASSERT_TRUE(buffer.resize(kStep + 1));
    EXPECT_EQ(buffer.capacity(), 2 * kStep);
    // The next multiple *above* n, even when n is a multiple itself.
    ASSERT_TRUE(buffer.resize(4 * kStep));
    EXPECT_EQ(buffer.capacity(), 5 * kStep);
}

TEST(ByteBuffer, ShrinksOnlyAboveOneStepAndBelowHalfTheCapacity) {
    ByteBuffer buffer;
    ASSERT_TRUE(buffer.resize(1));
    ASSERT_TRUE(buffer.resize(10 * kStep));
    ASSERT_EQ(buffer.capacity(), 11 * kStep);

    ASSERT_TRUE(buffer.resize(6 * kStep));  // more than half: size only
    EXPECT_EQ(buffer.capacity(), 11 * kStep);
    ASSERT_TRUE(buffer.resize(3 * kStep + 5));  // below half: shrink
    EXPECT_EQ(buffer.capacity(), 4 * kStep);
    EXPECT_EQ(buffer.size(), 3 * kStep + 5);
    ASSERT_TRUE(buffer.resize(100));  // small sizes keep the block
    EXPECT_EQ(buffer.capacity(), 4 * kStep);

    ASSERT_TRUE(buffer.resize(0));
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(buffer.capacity(), 0u);
    EXPECT_EQ(buffer.data(), nullptr);
    ASSERT_TRUE(buffer.resize(7));
    EXPECT_EQ(buffer.capacity(), 7u);
}

TEST(ByteBuffer, KeepsContentAcrossReallocationsAndPrefixRemoval) {
    ByteBuffer buffer;
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        const std::string chunk(1000 + i, static_cast<char>('a' + i % 26));
        ASSERT_TRUE(buffer.append(chunk));
        expected += chunk;
    }
    const std::string withNul("x\0y", 3);
    ASSERT_TRUE(buffer.append(withNul));
    expected += withNul;
    EXPECT_EQ(buffer.view(), expected);

    ASSERT_TRUE(buffer.removeFront(expected.size() - 10));
    EXPECT_EQ(buffer.view(), expected.substr(expected.size() - 10));
    EXPECT_EQ(buffer.capacity(), 4 * kStep);  // a small rest keeps the block

    ASSERT_TRUE(buffer.removeFront(100));
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(buffer.capacity(), 0u);
}

TEST(ByteBuffer, RefusedAllocationKeepsTheOldBlock) {
    ByteBuffer buffer(2 * kStep);
    ASSERT_TRUE(buffer.append("hello"));
    const char* block = buffer.data();

    EXPECT_FALSE(buffer.resize(2 * kStep));  // would need 3 steps
    EXPECT_EQ(buffer.data(), block);
    EXPECT_EQ(buffer.view(), "hello");
    EXPECT_EQ(buffer.capacity(), 5u);

    const std::string big(2 * kStep - 1, 'z');
    EXPECT_FALSE(buffer.append(big));
    EXPECT_EQ(buffer.view(), "hello");

    ASSERT_TRUE(buffer.append(std::string(kStep, 'q')));
    EXPECT_EQ(buffer.capacity(), 2 * kStep);
    EXPECT_EQ(buffer.size(), kStep + 5);

    // A size whose rounded capacity cannot be expressed is refused too.
    ByteBuffer unlimited;
    ASSERT_TRUE(unlimited.resize(1));
    EXPECT_FALSE(unlimited.resize(ByteBuffer::kNoLimit - 1));
    EXPECT_EQ(unlimited.size(), 1u);
    EXPECT_FALSE(unlimited.append(buffer.data(), ByteBuffer::kNoLimit));
    EXPECT_EQ(unlimited.capacity(), 1u);
}

}  // namespace
}  // namespace korvanel
