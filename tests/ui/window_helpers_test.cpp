#include "ui/window_helpers.h"

#include <gtest/gtest.h>

namespace korvanel {
namespace {

TEST(WindowHelpers, ClipboardTextRoundTripsWithinItsBound) {
    ASSERT_TRUE(copyTextToClipboard(QStringLiteral("http://radio.example/€")));
    EXPECT_EQ(readClipboardText(100), QStringLiteral("http://radio.example/€"));
    EXPECT_EQ(readClipboardText(23), QString());  // 24 bytes of UTF-8
    ASSERT_TRUE(copyTextToClipboard(QStringView(u"a\0b", 3).toString()));
    EXPECT_EQ(readClipboardText(100), QStringLiteral("a"));
}

}  // namespace
}  // namespace korvanel
