#include "audio/heard_metadata_queue.h"

#include <gtest/gtest.h>

namespace korvanel {
namespace {

MetadataParser::Reading titled(const std::string& title) {
    MetadataParser::Reading reading;
    reading.title = title;
    return reading;
}

std::vector<std::string> titlesOf(const std::vector<MetadataParser::Reading>& readings) {
    std::vector<std::string> titles;
    for (const auto& reading : readings) {
        titles.push_back(reading.title.value_or("-"));
    }
    return titles;
}

TEST(HeardMetadataQueue, DeliversInArrivalOrderOnceReached) {
    HeardMetadataQueue queue;
    queue.add(1000, titled("A"), 0);
    queue.add(3000, titled("B"), 0);
    queue.add(2000, titled("C"), 0);  // placed no earlier than B
    EXPECT_TRUE(titlesOf(queue.takeDue(999)).empty());
    EXPECT_EQ(titlesOf(queue.takeDue(1000)), (std::vector<std::string>{"A"}));
    EXPECT_EQ(titlesOf(queue.takeDue(5000)), (std::vector<std::string>{"B", "C"}));
    EXPECT_TRUE(queue.empty());
    queue.add(10, titled("D"), 0);
    queue.clear();
    EXPECT_TRUE(queue.takeDue(UINT64_MAX).empty());
}

TEST(HeardMetadataQueue, ChangesWithinOnePeriodAreOneAndAFloodIsBounded) {
    HeardMetadataQueue queue;
    MetadataParser::Reading named;
    named.stationName = "Station";
    queue.add(1000, named, 4096);
    queue.add(2000, titled("A"), 4096);
    queue.add(4000, titled("A2"), 4096);  // a steady flood does not push the first back
    queue.add(9000, titled("B"), 4096);
    EXPECT_EQ(queue.takeDue(999).size(), 0u);
    const auto due = queue.takeDue(1000);
    ASSERT_EQ(due.size(), 1u);
    // The merged change keeps what only the earlier one said.
    EXPECT_EQ(due[0].title, "A2");
    EXPECT_EQ(due[0].stationName, "Station");
    EXPECT_EQ(titlesOf(queue.takeDue(9000)), (std::vector<std::string>{"B"}));

    for (std::uint64_t i = 0; i < 10 * HeardMetadataQueue::kMaxWaiting; ++i) {
        queue.add(i * 100, titled(std::to_string(i)), 0);
    }
    EXPECT_EQ(queue.size(), HeardMetadataQueue::kMaxWaiting);
    const auto kept = titlesOf(queue.takeDue(UINT64_MAX));
    EXPECT_EQ(kept.back(), std::to_string(10 * HeardMetadataQueue::kMaxWaiting - 1));
}

}  // namespace
}  // namespace korvanel
