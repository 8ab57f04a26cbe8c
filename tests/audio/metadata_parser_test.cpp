#include "audio/metadata_parser.h"

#include <gtest/gtest.h>

#include <random>

#include "audio/channel_notice.h"
#include "audio/stream_info.h"
#include "tests/support/output_test_doubles.h"

namespace korvanel {
namespace {

class MetadataParserTest : public ::testing::Test {
protected:
    void parse(StreamKind kind, std::vector<std::string> texts) {
        info_.setKind(kind);
        parser_.parseMetadata(texts);
    }
    int posted() const { return jobs_.count(ChannelNotice::InfoParsed); }

    StreamInfo info_;
    test::OutputRecordingSink recorder_;
    test::ChannelNoticeLog jobs_;
    MetadataParser parser_{info_, &recorder_, &jobs_};
};

TEST_F(MetadataParserTest, IcyTitleIsSetOnlyWhenItChanges) {
    parse(StreamKind::Mp3, {"StreamTitle='Artist - Song';StreamUrl='';"});
    EXPECT_EQ(info_.title(), "Artist - Song");
    EXPECT_EQ(posted(), 1);
    parse(StreamKind::Mp3, {"StreamTitle='Artist - Song';StreamUrl='';"});
    EXPECT_EQ(posted(), 1);
    // The recorder hears of every parse, changed or not.
    EXPECT_EQ(recorder_.count("info"), 2);

    parse(StreamKind::Mp3, {"StreamTitle='';"});
    EXPECT_EQ(info_.title(), "");
    EXPECT_EQ(posted(), 2);
    parse(StreamKind::Mp3, {"StreamTitle='';"});
    EXPECT_EQ(posted(), 2);
    // The MPEG layer kinds read ICY titles too.
    parse(StreamKind::Mpeg2Layer3, {"StreamTitle='Next';"});
    EXPECT_EQ(info_.title(), "Next");
    EXPECT_EQ(posted(), 3);
    // A station name in the block (ours, from an HLS stream's tags) names the
    // station; an empty one leaves the name as it was.
    parse(StreamKind::Aac, {"StreamTitle='Next';StreamName='Radio &#38; Co';"});
    EXPECT_EQ(info_.stationName(), "Radio & Co");
    parse(StreamKind::Aac, {"StreamTitle='Next';StreamName='';"});
    EXPECT_EQ(info_.stationName(), "Radio & Co");
}

TEST_F(MetadataParserTest, ArrivedTitlesNameRecordingsAndHeardOnesAreShown) {
    parse(StreamKind::Mp3, {"StreamTitle='Now';"});
    const auto first = parser_.metadataArrived(std::vector<std::string>{"StreamTitle='Next';"});
    const auto second = parser_.metadataArrived(std::vector<std::string>{"StreamTitle='Later';"});
    // The recorder knows at once; the listener still hears the first song.
    EXPECT_EQ(recorder_.titles(), (std::vector<std::string>{"Now", "Next", "Later"}));
    EXPECT_EQ(info_.title(), "Now");
    EXPECT_EQ(posted(), 1);

    parser_.metadataHeard(first);
    EXPECT_EQ(info_.title(), "Next");
    EXPECT_EQ(posted(), 2);
    // Until the last arrival is heard, headers keep the arrived title in
    // the recorder's names.
    parser_.parseHeaders(std::vector<std::string>{"icy-name: Radio"});
    EXPECT_EQ(recorder_.titles().back(), "Later");
    parser_.metadataHeard(second);
    parser_.metadataHeard(second);  // heard twice: no second change
    EXPECT_EQ(info_.title(), "Later");
    EXPECT_EQ(posted(), 4);
    // A reading without a title leaves the arrived title alone.
    parser_.metadataArrived(std::vector<std::string>{"StreamUrl='x';"});
    EXPECT_EQ(recorder_.titles().back(), "Later");
}

TEST_F(MetadataParserTest, IcyTitleWithoutTheClosingQuoteRunsToTheEnd) {
    parse(StreamKind::Mp3, {"StreamTitle='Rock 'n' Roll';"});
    EXPECT_EQ(info_.title(), "Rock 'n' Roll");
    parse(StreamKind::Mp3, {"StreamTitle='No end"});
    EXPECT_EQ(info_.title(), "No end");
    parse(StreamKind::Mp3, {"StreamTitle=Unquoted;"});
    EXPECT_EQ(info_.title(), "No end");
    parse(StreamKind::Mp3, {"StreamTitle='"});
    EXPECT_EQ(info_.title(), "");
    parse(StreamKind::Mp3, {"StreamUrl='x';StreamTitle='Later';"});
    EXPECT_EQ(info_.title(), "Later");
    parse(StreamKind::Mp3, {"streamtitle='lower';"});
    EXPECT_EQ(info_.title(), "Later");
}

TEST_F(MetadataParserTest, IcyTitleTextIsUtf8WithCharacterReferencesDecoded) {
    parse(StreamKind::Mp3, {"StreamTitle='Caf\xC3\xA9';"});
    EXPECT_EQ(info_.title(), "Caf\xC3\xA9");  // valid UTF-8 stays
    parse(StreamKind::Mp3, {"StreamTitle='Caf\xE9 \xB0';"});
    EXPECT_EQ(info_.title(), "Caf\xC3\xA9 \xC2\xB0");  // anything else is ISO-8859-1
    parse(StreamKind::Mp3, {"StreamTitle='&#1058;&#1077;&#x441;&#X442; &#8364;5';"});
    EXPECT_EQ(info_.title(), "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82 \xE2\x82\xAC" "5");
    parse(StreamKind::Mp3, {"StreamTitle='\xE9&#8364;';"});
    EXPECT_EQ(info_.title(), "\xC3\xA9\xE2\x82\xAC");
    // Malformed or forbidden references stay as they are.
    parse(StreamKind::Mp3, {"StreamTitle='a&#;b&#x;c&#12d&#0;&#55296;&#1114112;&#99999999999;&#';"});
    EXPECT_EQ(info_.title(), "a&#;b&#x;c&#12d&#0;&#55296;&#1114112;&#99999999999;&#");
}

TEST_F(MetadataParserTest, UntrustedIcyBlocksOfAnyLengthAndContentAreSafe) {
    // A zero byte ends the text, as padding of an ICY block does.
    parse(StreamKind::Mp3, {std::string("StreamTitle='Padded';\0\0\0", 24)});
    EXPECT_EQ(info_.title(), "Padded");
    parse(StreamKind::Mp3, {std::string("StreamTitle='Bin\0ary';", 22)});
    EXPECT_EQ(info_.title(), "Bin");
    parse(StreamKind::Mp3, {""});
    parse(StreamKind::Mp3, {"StreamTitle='\x01\x02\xFF\xFE\x80';"});
    EXPECT_EQ(info_.title(), "\x01\x02\xC3\xBF\xC3\xBE\xC2\x80");

    std::mt19937 random(4080);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::string prefixes[] = {"", "StreamTitle='", "StreamTitle='&#", "StreamTitle='\xF0"};
    for (std::size_t length = 0; length <= 4080; length += 17) {
        for (const std::string& prefix : prefixes) {
            std::string text = prefix;
            while (text.size() < length) {
                text += static_cast<char>(byte(random));
            }
            parse(StreamKind::Mp3, {text});
            EXPECT_LE(info_.title().size(), MetadataParser::kMaxValueBytes);
        }
    }
    const std::string full = "StreamTitle='" + std::string(4067, 'x');
    parse(StreamKind::Mp3, {full});
    EXPECT_EQ(info_.title(), std::string(4067, 'x'));
}

TEST_F(MetadataParserTest, OggCommentsJoinArtistAndTitle) {
    parse(StreamKind::OggVorbis, {"ARTIST=Foo", "TITLE=Bar", "ALBUM=Baz"});
    EXPECT_EQ(info_.title(), "Foo - Bar");
    EXPECT_EQ(posted(), 1);
    parse(StreamKind::OggVorbis, {"title=Bar"});
    EXPECT_EQ(info_.title(), "Bar");
    parse(StreamKind::OggVorbis, {"Artist=Solo"});
    EXPECT_EQ(info_.title(), "Solo");
    EXPECT_EQ(posted(), 3);
    // Neither: nothing set, nothing posted.
    parse(StreamKind::OggVorbis, {"ALBUM=x", "ARTIST", "TITL=y"});
    EXPECT_EQ(info_.title(), "Solo");
    EXPECT_EQ(posted(), 3);
    // A UTF-8 "é" stays as it is; a Latin-1 one becomes UTF-8.
    parse(StreamKind::OggVorbis, {"TITLE=Caf\xC3\xA9"});
    EXPECT_EQ(info_.title(), "Caf\xC3\xA9");
    parse(StreamKind::OggVorbis, {"TITLE=Caf\xE9"});
    EXPECT_EQ(info_.title(), "Caf\xC3\xA9");
    // A title that is there but empty replaces the last one.
    const int before = posted();
    parse(StreamKind::OggVorbis, {"TITLE=", "ALBUM=x"});
    EXPECT_EQ(info_.title(), "");
    EXPECT_EQ(posted(), before + 1);
    parse(StreamKind::OggVorbis, {"TITLE=Caf\xC3\xA9"});
    // Ogg comments carry no ICY title.
    parse(StreamKind::OggVorbis, {"StreamTitle='x';"});
    EXPECT_EQ(info_.title(), "Caf\xC3\xA9");
}

TEST_F(MetadataParserTest, WindowsMediaTagsNameTheStationAndGiveTheBitrate) {
    parse(StreamKind::WindowsMedia,
          {"Bitrate = 131072", "Title = Morning Show", "Author = Radio W", "Copyright = c"});
    EXPECT_EQ(info_.stationName(), "Radio W - Morning Show");
    EXPECT_EQ(info_.title(), "");
    EXPECT_EQ(info_.bitrate(), 128);
    EXPECT_EQ(posted(), 1);
    // A known bitrate is kept.
    parse(StreamKind::WindowsMedia, {"Bitrate = 65536", "Title = Only"});
    EXPECT_EQ(info_.bitrate(), 128);
    EXPECT_EQ(info_.stationName(), "Only");
    // Tags too short for their value offset read as empty, not past the end.
    info_.setBitrate(0);
    parse(StreamKind::WindowsMedia, {"bitrate", "title", "Author ="});
    EXPECT_EQ(info_.bitrate(), 0);
    EXPECT_EQ(info_.stationName(), "Only");
    parse(StreamKind::WindowsMedia, {"Bitrate = 99999999999999999999"});
    EXPECT_EQ(info_.bitrate(), 0);
}

TEST_F(MetadataParserTest, NothingIsParsedWithoutTextOrForAnUnknownKind) {
    parse(StreamKind::Mp3, {});
    parse(StreamKind::Other, {"StreamTitle='x';"});
    parse(static_cast<StreamKind>(12), {"StreamTitle='x';"});
    EXPECT_EQ(info_.title(), "");
    EXPECT_EQ(posted(), 0);
    EXPECT_EQ(recorder_.count("info"), 3);
}

TEST_F(MetadataParserTest, IcyHeadersGiveStationNameAndAddressTrimmed) {
    const std::vector<std::string> headers = {"ICY 200 OK", "icy-name: My Station  ",
                                              "icy-url:http://my.example/\r", "icy-genre:Pop",
                                              "Icy-Name:Mixed Case"};
    parser_.parseHeaders(headers);
    EXPECT_EQ(info_.stationName(), "Mixed Case");
    EXPECT_EQ(info_.stationUrl(), "http://my.example/");
    EXPECT_EQ(posted(), 1);
    EXPECT_EQ(recorder_.count("info"), 1);

    const std::vector<std::string> plain = {"icy-name:My Station", "icy-name:", "icy-url"};
    parser_.parseHeaders(plain);
    EXPECT_EQ(info_.stationName(), "");
    EXPECT_EQ(info_.stationUrl(), "http://my.example/");
    // Posted even when nothing was found.
    parser_.parseHeaders({});
    EXPECT_EQ(posted(), 3);
}

TEST(MetadataParserText, ValuesAreCutAtAZeroByteAndTheLengthLimit) {
    EXPECT_EQ(MetadataParser::cleanValue(std::string("ab\0cd", 5)), "ab");
    const std::string longText(5000, '\xE9');  // Latin-1: two bytes each in UTF-8
    const std::string cleaned = MetadataParser::cleanValue(longText);
    EXPECT_EQ(cleaned.size(), MetadataParser::kMaxValueBytes);
    EXPECT_EQ(cleaned.substr(0, 2), "\xC3\xA9");
    EXPECT_EQ(MetadataParser::icyStreamTitle("x"), std::nullopt);
    EXPECT_EQ(MetadataParser::icyStreamTitle("StreamTitle='a';b"), "a");
}

}  // namespace
}  // namespace korvanel
