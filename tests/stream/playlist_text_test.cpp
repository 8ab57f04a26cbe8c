#include "stream/playlist_text.h"

#include <gtest/gtest.h>

#include <string>

namespace korvanel {
namespace {

using namespace std::string_literals;

std::string utf16le(const std::u16string& text) {
    std::string bytes;
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string utf16be(const std::u16string& text) {
    std::string bytes;
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit >> 8);
        bytes += static_cast<char>(unit & 0xFF);
    }
    return bytes;
}

TEST(PlaylistText, EachTestRecognisesItsOwnKindOfText) {
    EXPECT_TRUE(PlaylistText::looksLikeAscii16(utf16le(u"http://a/")));
    EXPECT_FALSE(PlaylistText::looksLikeAscii16(utf16le(u"K\u00f6ln")));
    EXPECT_FALSE(PlaylistText::looksLikeAscii16("http://a/"));
    EXPECT_FALSE(PlaylistText::looksLikeAscii16(""));

    EXPECT_TRUE(PlaylistText::hasByteOrderMark("\xff\xfe"));
    EXPECT_FALSE(PlaylistText::hasByteOrderMark("\xfe\xff"));
    EXPECT_TRUE(PlaylistText::hasReversedByteOrderMark("\xfe\xff"));
    EXPECT_FALSE(PlaylistText::hasByteOrderMark("\xff"));

    EXPECT_TRUE(PlaylistText::hasZeroBytes(utf16le(u"K\u00f6ln")));
    EXPECT_FALSE(PlaylistText::hasZeroBytes("File1=http://a/\r\n"));
    EXPECT_FALSE(PlaylistText::hasZeroBytes(std::string(600, 'a') + '\0'));  // only the start is probed
}

TEST(PlaylistText, EightBitTextStaysAsItIsUpToTheFirstZeroByte) {
    const std::string utf8 = "File1=http://a/\xc3\xbc\r\n";
    EXPECT_EQ(PlaylistText::decode(utf8), utf8);
    // An odd length must not make it look like 16-bit text.
    EXPECT_EQ(PlaylistText::decode("abc"), "abc");
    EXPECT_EQ(PlaylistText::decode(std::string(600, 'a') + "\0tail"s), std::string(600, 'a'));
    EXPECT_EQ(PlaylistText::decode(""), "");
}

TEST(PlaylistText, SixteenBitTextBecomesUtf8) {
    const std::string expected = "http://k.example/\xc3\xbc \xe6\x97\xa5 \xf0\x9f\x8e\xb5";
    const std::u16string text = u"http://k.example/\u00fc \u65e5 \U0001F3B5";
    EXPECT_EQ(PlaylistText::decode("\xff\xfe"s + utf16le(text)), expected);       // mark dropped
    EXPECT_EQ(PlaylistText::decode(utf16le(text)), expected);                     // zero bytes
    EXPECT_EQ(PlaylistText::decode("\xfe\xff"s + utf16be(text)), expected);       // big-endian mark
    EXPECT_EQ(PlaylistText::decode(utf16le(u"ab") + "\0\0zz"s), "ab");            // stops at a zero character
}

TEST(PlaylistText, BrokenSixteenBitTextDecodesWhatIsThere) {
    // A truncated text: the odd last byte is ignored.
    EXPECT_EQ(PlaylistText::decode("\xff\xfe"s + utf16le(u"http://a/") + "h"), "http://a/");
    EXPECT_EQ(PlaylistText::decode("\xff\xfe"s), "");
    // Lone surrogates (one cut off at the end) become replacement characters.
    EXPECT_EQ(PlaylistText::decode(utf16le(u"a") + "\x3d\xd8" + utf16le(u"b") + "\x3d\xd8"),
              "a\xef\xbf\xbd" "b\xef\xbf\xbd");
    EXPECT_EQ(PlaylistText::decode(utf16le(u"a") + "\x00\xdc"s), "a\xef\xbf\xbd");
}

}  // namespace
}  // namespace korvanel
