#include "stream/link_scraper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvanel {
namespace {

using Links = std::vector<std::string>;

TEST(ScrapeLinks, EachDelimiterEndsAWebLink) {
    for (const char delimiter : std::string(" \t\r\n\"'<>")) {
        const std::string text = std::string("x=http://a/s") + delimiter + "rest";
        EXPECT_EQ(scrapeLinks(text), Links{"http://a/s"}) << int(delimiter);
    }
    EXPECT_EQ(scrapeLinks("http://a/s;b,c(d)"), Links{"http://a/s;b,c(d)"});
    EXPECT_EQ(scrapeLinks(""), Links{});
    EXPECT_EQ(scrapeLinks("no links at all, not even HTTP://upper.case/"), Links{});
}

TEST(ScrapeLinks, DropsPagesAndPicturesByExactSuffix) {
    EXPECT_EQ(scrapeLinks("http://a/i.htm http://a/i.html http://a/p.gif http://a/p.jpg "
                          "http://a/s.php http://a/s.asp"),
              Links{});
    EXPECT_EQ(scrapeLinks("http://a/i.HTML http://a/s.php?id=1 http://a/p.jpeg http://a/s.asx"),
              (Links{"http://a/i.HTML", "http://a/s.php?id=1", "http://a/p.jpeg", "http://a/s.asx"}));
}

TEST(ScrapeLinks, WebLinksComeBeforeWindowsMediaLinksAndDuplicatesStay) {
    const std::string text = "mms://m/1 http://w/1 mms://m/1 http://w/1 http://w/2";
    EXPECT_EQ(scrapeLinks(text), (Links{"http://w/1", "http://w/1", "http://w/2", "mms://m/1", "mms://m/1"}));
    // Secure links stand among the others in the order of the text.
    EXPECT_EQ(scrapeLinks("https://s/1 http://w/1 'https://s/2.htm' httpx://no HTTPS://no https:/no"),
              (Links{"https://s/1", "http://w/1"}));
}

TEST(ScrapeLinks, WindowsMediaLinksIgnoreTheSingleQuoteAndRunToTheEnd) {
    EXPECT_EQ(scrapeLinks("<a href='mms://h/it's'>"), Links{"mms://h/it's'"});
    EXPECT_EQ(scrapeLinks("last line: mms://h/live"), Links{"mms://h/live"});
    EXPECT_EQ(scrapeLinks("last line: http://h/live"), Links{"http://h/live"});
    // Suffixes are not checked for Windows Media links.
    EXPECT_EQ(scrapeLinks("mms://h/page.html"), Links{"mms://h/page.html"});
}

TEST(ScrapeLinks, OverlappingOccurrencesEachStartALink) {
    EXPECT_EQ(scrapeLinks("http://a/?u=http://b/x\n"), (Links{"http://a/?u=http://b/x", "http://b/x"}));
    EXPECT_EQ(scrapeLinks("xhttp://a mms://mms://b"), (Links{"http://a", "mms://mms://b", "mms://b"}));
}

TEST(ScrapeLinks, HostilePagesStayBounded) {
    // 100,000 occurrences without any delimiter: each would run to the end of
    // the page; only the last few are short enough to keep.
    std::string packed;
    for (int i = 0; i < 100000; ++i) {
        packed += "http://";
    }
    const Links fromPacked = scrapeLinks(packed);
    EXPECT_EQ(fromPacked.size(), kMaxScrapedLinkBytes / 7);
    for (const std::string& link : fromPacked) {
        EXPECT_LE(link.size(), kMaxScrapedLinkBytes);
    }

    // 100,000 separate links: capped in number.
    std::string spaced;
    for (int i = 0; i < 100000; ++i) {
        spaced += "http://h/" + std::to_string(i) + " ";
    }
    const Links fromSpaced = scrapeLinks(spaced + "mms://m/late");
    ASSERT_EQ(fromSpaced.size(), kMaxScrapedLinks);
    EXPECT_EQ(fromSpaced.front(), "http://h/0");
    EXPECT_EQ(fromSpaced.back(), "http://h/" + std::to_string(kMaxScrapedLinks - 1));

    const std::string longLink = "http://h/" + std::string(kMaxScrapedLinkBytes, 'x');
    EXPECT_EQ(scrapeLinks(longLink + " http://h/short"), Links{"http://h/short"});
}

}  // namespace
}  // namespace korvanel
