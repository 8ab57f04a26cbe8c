#include "settings/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace korvanel {
namespace {

TEST(TextEncoding, TruncationBacksUpToTheStartOfTheCutCharacter) {
    const std::string text = "ab\xF0\x9F\x8E\xB5" "cd";  // a 4-byte character at 2..5
    EXPECT_EQ(truncateUtf8(text, 8), text);
    EXPECT_EQ(truncateUtf8(text, 6), "ab\xF0\x9F\x8E\xB5");
    for (std::size_t cut = 2; cut < 6; ++cut) {
        EXPECT_EQ(truncateUtf8(text, cut), "ab") << cut;
    }
    EXPECT_EQ(truncateUtf8(text, 0), "");
}

TEST(TextEncoding, TruncationOfTextThatIsNotUtf8NeverBacksUpMoreThanThreeBytes) {
    // Continuation bytes with no lead byte: a real character is at most four
    // bytes long, so backing up further would only throw text away.
    const std::string stray(300, '\x80');
    EXPECT_EQ(truncateUtf8(stray, 255).size(), 252u);
    EXPECT_EQ(truncateUtf8("x" + stray, 100).size(), 97u);
}

}  // namespace
}  // namespace korvanel
