// The station directory against a local server that answers as the public
// directory's API documentation describes it, and as a hostile one might.
#include "stations/station_directory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <algorithm>

#include "base/window_event.h"
#include "settings/settings_store.h"
#include "stream/http_client.h"
#include "tests/stream/test_application.h"
#include "tests/support/http_test_server.h"

namespace korvanel {
namespace {

using test::HttpTestServer;
using namespace std::chrono_literals;

std::string stationJson(int n, const std::string& extra = "") {
    return "{\"changeuuid\":\"c" + std::to_string(n) + "\",\"stationuuid\":\"uuid-" + std::to_string(n) +
           "\",\"name\":\"Station " + std::to_string(n) + "\",\"url\":\"http://list.example/" + std::to_string(n) +
           ".pls\",\"url_resolved\":\"http://stream.example/" + std::to_string(n) +
           "\",\"homepage\":\"https://home.example/\",\"favicon\":\"\",\"tags\":\"jazz,blues\",\"country\":"
           "\"Germany\",\"countrycode\":\"DE\",\"state\":\"\",\"language\":\"german\",\"votes\":12,"
           "\"lastchangetime\":\"2026-01-01 00:00:00\",\"codec\":\"MP3\",\"bitrate\":128,\"hls\":0,"
           "\"lastcheckok\":1,\"clickcount\":" +
           std::to_string(1000 - n) + ",\"clicktrend\":3,\"geo_lat\":null,\"geo_long\":null" + extra + "}";
}

std::string stationsJson(int count) {
    std::string json = "[";
    for (int i = 1; i <= count; ++i) {
        json += (i > 1 ? "," : "") + stationJson(i);
    }
    return json + "]";
}

class StationDirectoryTest : public ::testing::Test {
protected:
    void point(const HttpTestServer& server) {
        std::string address = server.url("/");
        address.pop_back();
        application_.app().settings().setString(StationDirectory::kServerKey, address);
    }
    StationDirectory directory() { return StationDirectory(application_.app().httpClient(), application_.app().settings()); }

    test::TestApplication application_;
};

TEST_F(StationDirectoryTest, ASearchAsksForPopularWorkingStationsAndReadsTheAnswer) {
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse(stationsJson(3))));
    point(server);
    DirectoryQuery query;
    query.text = "Jazz & Blues FM";
    query.tag = "jazz";
    query.country = "DE";
    query.limit = 2;
    StationDirectory finder = directory();
    const StationDirectory::Result result = finder.search(query);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.stations.size(), 2u);  // the limit, whatever the server sends
    EXPECT_EQ(result.stations[0].uuid, "uuid-1");
    EXPECT_EQ(result.stations[0].name, "Station 1");
    EXPECT_EQ(result.stations[0].url, "http://stream.example/1");  // the resolved address first
    EXPECT_EQ(result.stations[0].countryCode, "DE");
    EXPECT_EQ(result.stations[0].bitrate, 128);
    EXPECT_EQ(result.stations[0].clicks, 999);
    const std::string request = server.requests().at(0);
    EXPECT_EQ(request.rfind("GET /json/stations/search?order=clickcount&reverse=true&hidebroken=true&limit=2"
                            "&name=Jazz%20%26%20Blues%20FM&tag=jazz&countrycode=DE HTTP/1.0\r\n",
                            0),
              0u)
        << request;
    EXPECT_NE(request.find("User-Agent: Korvanel Radio v0.3.6\r\n"), std::string::npos);

    // A played result is reported to the server that answered, in the background.
    finder.reportClick(result.stations[0].uuid);
    for (int i = 0; i < 200 && server.requests().size() < 2; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].rfind("GET /json/url/uuid-1 HTTP/1.0\r\n", 0), 0u);
}

TEST_F(StationDirectoryTest, HostileAnswersGiveResultsOrAClearErrorNeverACrash) {
    std::vector<DirectoryStation> stations;
    std::string error;
    // Wrong types, missing fields, control characters, a 1 MB name.
    const std::string odd = "[{\"name\":5,\"url\":\"http://a/\",\"bitrate\":\"x\",\"clickcount\":-4},"
                            "{\"name\":\"no address\"},"
                            "{\"name\":\"Line\\nBreak\\u0007\",\"url_resolved\":\"http://b/\",\"bitrate\":1e300},"
                            "{\"name\":\"" + std::string(1 << 20, 'n') + "\",\"url\":\"http://c/\",\"tags\":[[1,2],{}]}]";
    ASSERT_TRUE(StationDirectory::parse(odd, 200, stations, error)) << error;
    ASSERT_EQ(stations.size(), 3u);
    EXPECT_EQ(stations[0].name, "");
    EXPECT_EQ(stations[0].bitrate, 0);
    EXPECT_EQ(stations[0].clicks, 0);
    EXPECT_EQ(stations[1].name, "LineBreak");
    EXPECT_EQ(stations[1].bitrate, 100000);
    EXPECT_EQ(stations[2].name.size(), 1024u);

    for (const std::string& broken :
         {std::string("<html>busy</html>"), std::string("{\"stations\":[]}"), std::string("\"text\""),
          std::string(100000, '[') + std::string(100000, ']'), std::string("[{\"name\":\"cut"), std::string()}) {
        EXPECT_FALSE(StationDirectory::parse(broken, 200, stations, error)) << broken.substr(0, 40);
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(stations.empty());
    }

    // Over the network: an answer larger than any list fails with a message.
    HttpTestServer huge(HttpTestServer::reply(HttpTestServer::okResponse(std::string(20 << 20, ' '))));
    point(huge);
    const StationDirectory::Result tooLarge = directory().search({});
    EXPECT_FALSE(tooLarge.ok);
    EXPECT_NE(tooLarge.error.find("did not answer"), std::string::npos) << tooLarge.error;
    HttpTestServer notJson(HttpTestServer::reply(HttpTestServer::okResponse("Service Unavailable")));
    point(notJson);
    const StationDirectory::Result garbled = directory().search({});
    EXPECT_FALSE(garbled.ok);
    EXPECT_NE(garbled.error.find("broken answer"), std::string::npos) << garbled.error;
}

// Only http:// and https:// addresses are offered, and one element that is
// no station costs only itself: the rest are listed and the log says how
// many were left out.
TEST_F(StationDirectoryTest, OnlyWebAddressesAreOfferedAndABadElementIsSkippedAlone) {
    const std::string deep = std::string(12, '[') + std::string(12, ']');
    const std::string answer = "[" + stationJson(1) + ",7,\"text\",null,[1]," +
                               "{\"name\":\"Script\",\"url\":\"javascript:alert(1)\"}," +
                               "{\"name\":\"File\",\"url_resolved\":\"file:///etc/passwd\",\"url\":\"FILE:///x\"}," +
                               "{\"name\":\"Deep\",\"url\":\"http://deep/\",\"tags\":" + deep + "}," +
                               "{\"name\":\"Fallback\",\"url_resolved\":\"data:x\",\"url\":\"https://given.example/\","
                               "\"homepage\":\"javascript:alert(2)\"}," +
                               stationJson(2) + "]";
    std::vector<DirectoryStation> stations;
    std::string error;
    std::size_t skipped = 0;
    ASSERT_TRUE(StationDirectory::parse(answer, 200, stations, error, &skipped)) << error;
    ASSERT_EQ(stations.size(), 3u);
    EXPECT_EQ(stations[0].url, "http://stream.example/1");
    EXPECT_EQ(stations[1].name, "Fallback");
    EXPECT_EQ(stations[1].url, "https://given.example/");
    EXPECT_EQ(stations[1].homepage, "");
    EXPECT_EQ(stations[2].url, "http://stream.example/2");
    EXPECT_EQ(skipped, 7u);  // 7, "text", null, [1], the script, the file, the deep one

    // The bounds stay: nesting beyond any station refuses the whole answer.
    EXPECT_FALSE(StationDirectory::parse("[" + std::string(100, '[') + std::string(100, ']') + "]", 200, stations,
                                         error));

    // A search says so through the events, for the log.
    HttpTestServer server(HttpTestServer::reply(HttpTestServer::okResponse(answer)));
    point(server);
    StationDirectory reporting(application_.app().httpClient(), application_.app().settings(),
                               &application_.app().events());
    const StationDirectory::Result result = reporting.search({});
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.stations.size(), 3u);
    EXPECT_EQ(result.skipped, 7u);
    const auto events = application_.window().waitForEvents(1);
    EXPECT_NE(std::find(events.begin(), events.end(), EventKind::DirectorySkipped), events.end());
}

}  // namespace
}  // namespace korvanel
