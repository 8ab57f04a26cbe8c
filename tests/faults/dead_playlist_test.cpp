// korvanel-cli given a station whose playlist lists a thousand addresses,
// every one of them refused: each is tried once, the player gives up, and a
// stop in the middle of the walk ends it at once.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>

#include "tests/faults/fault_fixtures.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::HttpTestServer;

constexpr int kDeadAddresses = 1000;
constexpr int kDeadPorts = 10;

// Loopback ports that refuse every connection for as long as the object
// lives: each is bound by a socket that never listens, so no one else can
// take it meanwhile.
class RefusedPorts {
public:
    explicit RefusedPorts(int count) {
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
                if (fd >= 0) {
                    ::close(fd);
                }
                continue;
            }
            fds_.push_back(fd);
            ports_.push_back(ntohs(address.sin_port));
        }
    }
    ~RefusedPorts() {
        for (const int fd : fds_) {
            ::close(fd);
        }
    }
    RefusedPorts(const RefusedPorts&) = delete;
    RefusedPorts& operator=(const RefusedPorts&) = delete;

    const std::vector<int>& ports() const { return ports_; }

private:
    std::vector<int> fds_;
    std::vector<int> ports_;
};

class DeadPlaylist : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(refused_.ports().size(), static_cast<std::size_t>(kDeadPorts));
        std::string pls = "[playlist]\r\nNumberOfEntries=" + std::to_string(kDeadAddresses) + "\r\n";
        for (int i = 0; i < kDeadAddresses; ++i) {
            const std::string address = "http://127.0.0.1:" + std::to_string(refused_.ports()[i % kDeadPorts]) +
                                        "/dead" + std::to_string(i) + ".mp3";
            addresses_.push_back(address);
            pls += "File" + std::to_string(i + 1) + "=" + address + "\r\nTitle" + std::to_string(i + 1) +
                   "=Dead " + std::to_string(i) + "\r\n";
        }
        pls += "Version=2\r\n";
        server_ = std::make_unique<HttpTestServer>(HttpTestServer::reply(HttpTestServer::okResponse(pls)));
    }

    ChildProcess startCli() {
        return ChildProcess(test::cliPath(), {"play", "--pcm-out", home_.file("out.raw"), server_->url("/dead.pls")},
                            test::cliEnvironment(home_));
    }

    test::TempFolder home_;
    RefusedPorts refused_{kDeadPorts};
    std::vector<std::string> addresses_;
    std::unique_ptr<HttpTestServer> server_;
};

TEST_F(DeadPlaylist, EveryDeadAddressIsTriedOnceThenThePlayerGivesUp) {
    const auto started = std::chrono::steady_clock::now();
    ChildProcess cli = startCli();
    const std::optional<int> status = cli.waitForExit(90s);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    ASSERT_TRUE(status.has_value()) << "still walking the list after 90 s";
    const std::string log = cli.err();
    EXPECT_EQ(*status, 1) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
    EXPECT_EQ(test::countOf(log, " :: Retrieving playlist, " + server_->url("/dead.pls")), 1u);
    EXPECT_EQ(test::countOf(log, " :: Connect error: "), static_cast<std::size_t>(kDeadAddresses));
    EXPECT_EQ(test::countOf(log, " :: All sources failed, giving up!\n"), 1u);
    EXPECT_EQ(test::countOf(log, " :: Reconnecting from scratch"), 0u);
    // Each address once, in the playlist's order.
    std::size_t at = 0;
    for (const auto& address : addresses_) {
        const std::string line = " :: Connecting to " + address + "\n";
        EXPECT_EQ(test::countOf(log, line), 1u) << address;
        const std::size_t found = log.find(line);
        EXPECT_TRUE(found != std::string::npos && found >= at) << address << " out of order";
        at = found == std::string::npos ? at : found;
    }
    // A refused connection costs next to nothing: the walk is bounded by the
    // list, not by time-outs.
    EXPECT_LT(took, 30s);
    RecordProperty("thousand_dead_addresses_ms", static_cast<int>(took.count()));
}

TEST_F(DeadPlaylist, StopInTheMiddleOfTheWalkEndsItAtOnce) {
    ChildProcess cli = startCli();
    ASSERT_TRUE(cli.waitForErr(" :: Connect error: ", 30s, 100)) << cli.err();
    const test::Interruption interruption = test::interrupt(cli);
    ASSERT_TRUE(interruption.exitCode.has_value());
    EXPECT_LT(interruption.took, test::kStopBound);
    RecordProperty("stop_during_walk_ms", static_cast<int>(interruption.took.count()));
    const std::string log = cli.err();
    RecordProperty("connect_errors_before_stop", static_cast<int>(test::countOf(log, " :: Connect error: ")));
    if (*interruption.exitCode == 1 || log.find(" :: All sources failed") != std::string::npos) {
        // The walk is quick: it may have ended before the signal came, and
        // the signal may then have ended the program before its own exit.
        EXPECT_EQ(test::countOf(log, " :: All sources failed, giving up!\n"), 1u);
        return;
    }
    EXPECT_EQ(*interruption.exitCode, 0);
    EXPECT_LT(test::countOf(log, " :: Connect error: "), static_cast<std::size_t>(kDeadAddresses));
    EXPECT_EQ(test::countOf(log, " :: All sources failed"), 0u);
    EXPECT_NE(log.find(" :: Stopped..\n"), std::string::npos);
}

}  // namespace
}  // namespace korvanel
