// The engine's network side against scripted servers on loopback: ICY
// answers, metadata in the stream, redirects, failures and time-outs, and the
// Windows Media route through libavformat.

#include <arpa/inet.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <tuple>

#include "audio/engine/audio_engine.h"
#include "audio/engine/icy_stream_reader.h"
#include "stream/cancel_signal.h"
#include "stream/unique_fd.h"
#include "tests/support/audio_engine_playback.h"
#include "tests/support/audio_test_tones.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_folder.h"

namespace korvanel {
namespace {

using namespace std::chrono_literals;
using test::HttpTestServer;
using Clock = std::chrono::steady_clock;

// One generated MP3 file for the whole suite.
const std::string& toneMp3() {
    static const std::string bytes = test::toneFileBytes("mp3", "libmp3lame", 1000, 3.0);
    return bytes;
}

// The body with an ICY metadata block after every `interval` audio bytes.
std::string withMetadata(const std::string& audio, std::size_t interval,
                         const std::vector<std::string>& titles) {
    std::string out;
    std::size_t block = 0;
    for (std::size_t offset = 0; offset < audio.size(); offset += interval, ++block) {
        out += audio.substr(offset, interval);
        if (offset + interval > audio.size()) {
            break;
        }
        std::string text = block < titles.size() ? titles[block] : std::string();
        text.resize((text.size() + 15) / 16 * 16, '\0');
        out.push_back(static_cast<char>(text.size() / 16));
        out += text;
    }
    return out;
}

// Collects what a decoding stream hands out while it is opened and read.
struct Listener {
    AudioEngine engine;
    AudioStream stream;
    std::mutex lock;
    std::string downloaded;
    bool finished = false;
    std::vector<std::string> metadata;

    AudioError open(const std::string& url) {
        engine.init(audio::kNoSoundDevice, audio::kOutputFrequency);
        AudioResult<AudioStream> opened =
            engine.openUrl(url, 0, audio::kStreamDecode | audio::kStreamMeta,
                                        [this](std::span<const std::uint8_t> data, bool end) {
                                            std::lock_guard<std::mutex> guard(lock);
                                            downloaded.append(data.begin(), data.end());
                                            finished = finished || end;
                                        });
        if (!opened) {
            return opened.error().kind;
        }
        stream = std::move(opened).value();
        stream.setLifelongSync(audio::kSyncMeta, 0, [this](const SyncEvent& event) {
            std::lock_guard<std::mutex> guard(lock);
            metadata.insert(metadata.end(), event.texts.begin(), event.texts.end());
        });
        return AudioError::Ok;
    }

    // Every decoded byte until the stream ends (bounded).
    std::string readAll(std::chrono::milliseconds bound = 10s) {
        std::string pcm;
        std::vector<std::uint8_t> buffer(8192);
        const auto deadline = Clock::now() + bound;
        while (Clock::now() < deadline) {
            const AudioResult<std::uint32_t> given = stream.read(buffer);
            if (!given) {
                break;
            }
            const std::uint32_t count = *given;
            if (count == 0) {
                std::this_thread::sleep_for(2ms);
            }
            pcm.append(buffer.begin(), buffer.begin() + count);
        }
        return pcm;
    }
};

// Sends the first `splitAt` bytes, waits, then the rest: what comes after
// the pause arrives once the stream is open and its syncs are set.
HttpTestServer::Handler inTwoParts(std::string bytes, std::size_t splitAt) {
    return [bytes = std::move(bytes), splitAt](HttpTestServer::Connection& connection, const std::string&) {
        if (connection.send(std::string_view(bytes).substr(0, splitAt)) && connection.pause(300ms)) {
            connection.send(std::string_view(bytes).substr(splitAt));
        }
    };
}

std::string icyAnswer(const std::string& body, const std::string& metaint) {
    std::string head = "ICY 200 OK\r\nicy-name:Loopback FM\r\nicy-br:64\r\nContent-Type: audio/mpeg\r\n";
    if (!metaint.empty()) {
        head += "icy-metaint:" + metaint + "\r\n";
    }
    return head + "\r\n" + body;
}

// A body is judged by its first bytes, however they are cut across reads:
// a playlist fails the open as one, so the player resolves it, and audio of
// any type loses none of the bytes that were looked at.
TEST(AudioEngineHttp, PlaylistsAreToldFromAudioByTheirFirstBytesAndAudioLosesNone) {
    const auto answer = [](const std::string& type, const std::string& body) {
        return "HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\n\r\n" + body;
    };
    const std::string head = answer("application/octet-stream", "");
    for (const auto& [what, response, splitAt] : std::vector<std::tuple<std::string, std::string, std::size_t>>{
             {"pls cut in its first word", answer("application/octet-stream", "[playlist]\nFile1=http://a/\n"),
              head.size() + 4},
             {"addresses under an HLS type", answer("audio/x-mpegurl", "http://a/1\nhttp://a/2\n"), head.size()},
             {"xspf under no type", answer("", "<?xml version=\"1.0\"?>\n<playlist version=\"1\" "
                                               "xmlns=\"http://xspf.org/ns/0/\"><trackList/></playlist>"),
              head.size() + 30}}) {
        HttpTestServer server(inTwoParts(response, splitAt));
        Listener listener;
        EXPECT_EQ(listener.open(server.url("/listen")), AudioError::Playlist) << what;
    }

    Listener reference;
    HttpTestServer plain(HttpTestServer::reply(answer("audio/mpeg", toneMp3())));
    ASSERT_EQ(reference.open(plain.url("/tone")), AudioError::Ok);
    const std::size_t expected = reference.readAll().size();
    ASSERT_GT(expected, 0u);
    for (const std::size_t bodyBytes : {std::size_t{1}, std::size_t{3}}) {
        const std::string response = answer("audio/x-scpls", toneMp3());
        HttpTestServer server(inTwoParts(response, response.size() - toneMp3().size() + bodyBytes));
        Listener listener;
        ASSERT_EQ(listener.open(server.url("/listen")), AudioError::Ok) << bodyBytes;
        EXPECT_EQ(listener.readAll().size(), expected) << bodyBytes;
        std::lock_guard<std::mutex> guard(listener.lock);
        EXPECT_EQ(listener.downloaded, toneMp3()) << bodyBytes;
    }
}

TEST(AudioEngineHttp, IcyAnswerIsStrippedOfItsMetadataWhichArrivesInStreamOrder) {
    ASSERT_FALSE(toneMp3().empty());
    const std::string body =
        withMetadata(toneMp3(), 4096, {"StreamTitle='One';", "", "StreamTitle='Two';"});
    const std::string answer = icyAnswer(body, "4096");
    // The pause comes after the first block and before the third.
    HttpTestServer server(inTwoParts(answer, answer.size() - body.size() + 4096 * 2 + 64));
    Listener listener;
    ASSERT_EQ(listener.open(server.url("/radio")), AudioError::Ok);
    ASSERT_TRUE(server.requests().at(0).find("Icy-MetaData: 1\r\n") != std::string::npos);

    const std::string pcm = listener.readAll();
    std::lock_guard<std::mutex> guard(listener.lock);
    EXPECT_TRUE(listener.finished);
    EXPECT_EQ(listener.downloaded, toneMp3()) << "the download callback gets the audio bytes only";
    const auto icy = listener.stream.tags(audio::kTagIcy);
    ASSERT_TRUE(icy);
    EXPECT_EQ(icy->front(), "ICY 200 OK");
    EXPECT_NE(std::find(icy->begin(), icy->end(), "icy-name:Loopback FM"), icy->end());
    // The first block comes during the open, mostly before the sync is set;
    // a slow machine may decode its first frames sooner. Either way the
    // blocks come in stream order and the empty one is no title.
    if (listener.metadata.size() == 2) {
        EXPECT_EQ(listener.metadata.front(), "StreamTitle='One';");
    }
    ASSERT_FALSE(listener.metadata.empty());
    EXPECT_LE(listener.metadata.size(), 2u);
    EXPECT_EQ(listener.metadata.back(), "StreamTitle='Two';");
    EXPECT_EQ(listener.stream.tags(audio::kTagMeta),
              std::vector<std::string>{"StreamTitle='Two';"});
    EXPECT_NEAR(test::toneFrequency(test::channelSamples(pcm, 2, 0), 44100), 1000, 20);
}

// A server that answers an HTTP/1.0 request with a chunked body: chunk
// lines fall inside ICY blocks and MP3 frames, and none reaches the decoder.
TEST(AudioEngineHttp, AChunkedStreamIsUndoneBeforeItsMetadataAndAudio) {
    const std::string body = withMetadata(toneMp3(), 4096, {"StreamTitle='One';"});
    std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nicy-metaint:4096\r\n"
                         "Transfer-Encoding: chunked\r\n\r\n";
    for (std::size_t at = 0, size = 1000; at < body.size(); at += size, size = size % 1777 + 333) {
        const std::string part = body.substr(at, size);
        char line[16];
        std::snprintf(line, sizeof line, "%zX\r\n", part.size());
        answer += line + part + "\r\n";
    }
    answer += "0\r\n\r\n";
    HttpTestServer server(HttpTestServer::reply(answer));
    Listener listener;
    ASSERT_EQ(listener.open(server.url("/radio")), AudioError::Ok);
    const std::string pcm = listener.readAll();
    std::lock_guard<std::mutex> guard(listener.lock);
    EXPECT_TRUE(listener.finished);
    EXPECT_EQ(listener.downloaded, toneMp3());
    EXPECT_EQ(listener.stream.tags(audio::kTagMeta),
              std::vector<std::string>{"StreamTitle='One';"});
    EXPECT_NEAR(test::toneFrequency(test::channelSamples(pcm, 2, 0), 44100), 1000, 20);

    // A chunk line that is no size ends the stream before it becomes sound.
    HttpTestServer broken(HttpTestServer::reply(
        "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nTransfer-Encoding: chunked\r\n\r\nnot a size\r\n" +
        toneMp3()));
    Listener refused;
    if (refused.open(broken.url("/radio")) == AudioError::Ok) {
        EXPECT_TRUE(refused.readAll().empty());
    }
}

TEST(AudioEngineHttp, AbsurdMetadataIntervalsMeanNoMetadata) {
    ASSERT_FALSE(toneMp3().empty());
    for (const std::string metaint : {"0", "-16", "99999999", "16x", "2000000"}) {
        HttpTestServer server(HttpTestServer::reply(icyAnswer(toneMp3(), metaint)));
        Listener listener;
        ASSERT_EQ(listener.open(server.url("/radio")), AudioError::Ok) << metaint;
        listener.readAll();
        std::lock_guard<std::mutex> guard(listener.lock);
        EXPECT_EQ(listener.downloaded, toneMp3()) << metaint;
        EXPECT_TRUE(listener.metadata.empty()) << metaint;
    }
}

TEST(AudioEngineHttp, HugeBinaryMetadataBlocksAreHandedOnWithoutHarm) {
    ASSERT_FALSE(toneMp3().empty());
    std::string junk(4080, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i) {
        junk[i] = static_cast<char>((i * 37 + 1) % 256);
    }
    const std::string body = withMetadata(toneMp3(), 2048, {"", junk, "StreamTitle='no end"});
    const std::string answer = icyAnswer(body, "2048");
    HttpTestServer server(inTwoParts(answer, answer.size() - body.size() + 2048));
    Listener listener;
    ASSERT_EQ(listener.open(server.url("/radio")), AudioError::Ok);
    listener.readAll();
    std::lock_guard<std::mutex> guard(listener.lock);
    EXPECT_EQ(listener.downloaded, toneMp3());
    ASSERT_EQ(listener.metadata.size(), 2u);
    EXPECT_EQ(listener.metadata[0].find('\0'), std::string::npos);
    EXPECT_EQ(listener.metadata[1], "StreamTitle='no end");
}

TEST(AudioEngineHttp, FollowsFiveRedirectsButNotSix) {
    ASSERT_FALSE(toneMp3().empty());
    HttpTestServer server([&](HttpTestServer::Connection& connection, const std::string& request) {
        // "/hopN" sends on to "/hopN-1" (relative and rooted paths in turn); "/hop0" answers.
        const std::size_t at = request.find("/hop");
        const int hop = at == std::string::npos ? 0 : std::atoi(request.c_str() + at + 4);
        if (hop == 0) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " +
                            std::to_string(toneMp3().size()) + "\r\n\r\n" + toneMp3());
            return;
        }
        const std::string next = "hop" + std::to_string(hop - 1);
        connection.send("HTTP/1.0 302 Found\r\nLocation: " + (hop % 2 == 0 ? next : "/" + next) +
                        "\r\n\r\n");
    });
    {
        Listener listener;
        ASSERT_EQ(listener.open(server.url("/hop5")), AudioError::Ok);
        const auto info = listener.stream.info();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->flags & audio::kStreamBlock, 0u) << "a sized answer is not live";
        EXPECT_GT(listener.stream.length(), 44100 * 4 * 2);
    }
    Listener tooFar;
    EXPECT_EQ(tooFar.open(server.url("/hop6")), AudioError::FileOpen);
}

TEST(AudioEngineHttp, FailedAnswersGiveCantOpen) {
    HttpTestServer notFound(HttpTestServer::reply("HTTP/1.0 404 Not Found\r\n\r\n"));
    HttpTestServer garbage(HttpTestServer::reply("SSH-2.0-OpenSSH_9.2\r\n\r\n"));
    HttpTestServer endless(HttpTestServer::reply("HTTP/1.0 200 OK\r\nX: " + std::string(20000, 'a')));
    HttpTestServer hangsUp(HttpTestServer::reply(""));
    for (const HttpTestServer* server : {&notFound, &garbage, &endless, &hangsUp}) {
        Listener listener;
        EXPECT_EQ(listener.open(server->url("/")), AudioError::FileOpen) << server->url("/");
    }
    Listener notAudio;
    HttpTestServer text(HttpTestServer::reply(HttpTestServer::okResponse(std::string(50000, 'x'))));
    EXPECT_EQ(notAudio.open(text.url("/")), AudioError::FileFormat);
    Listener badAddress;
    EXPECT_EQ(badAddress.open("http://127.0.0.1:99999/"), AudioError::FileOpen);
}

// A port where nothing listens.
int refusedPort() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A listener whose accept queue is full, so new connections never complete:
// to a client it is an address that never answers.
struct SilentAddress {
    UniqueFd listener{::socket(AF_INET, SOCK_STREAM, 0)};
    UniqueFd queued{::socket(AF_INET, SOCK_STREAM, 0)};
    int port = 0;

    SilentAddress() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener.get(), 0);
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        ::connect(queued.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
};

TEST(AudioEngineHttp, RefusedPortFailsAtOnceAndSilenceTimesOut) {
    Listener refused;
    const auto start = Clock::now();
    EXPECT_EQ(refused.open("http://127.0.0.1:" + std::to_string(refusedPort()) + "/live"),
              AudioError::FileOpen);
    EXPECT_LT(Clock::now() - start, 1s);

    // An address that never answers, and a server that answers but sends no
    // audio, side by side so the suite waits out the time-out only once.
    SilentAddress silent;
    HttpTestServer mute([](HttpTestServer::Connection& connection, const std::string&) {
        if (connection.send("ICY 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n")) {
            connection.pause(10s);
        }
    });
    const auto timedOpen = [](const std::string& url, AudioError& error, Clock::duration& waited) {
        Listener listener;
        const auto begin = Clock::now();
        error = listener.open(url);
        waited = Clock::now() - begin;
    };
    AudioError silentError = AudioError::Ok;
    AudioError muteError = AudioError::Ok;
    Clock::duration silentWait{};
    Clock::duration muteWait{};
    std::thread other([&] { timedOpen(mute.url("/live"), muteError, muteWait); });
    timedOpen("http://127.0.0.1:" + std::to_string(silent.port) + "/live", silentError, silentWait);
    other.join();
    EXPECT_EQ(silentError, AudioError::Timeout);
    EXPECT_EQ(muteError, AudioError::Timeout);
    for (const auto waited : {silentWait, muteWait}) {
        EXPECT_GE(waited, 4500ms);
        EXPECT_LT(waited, 7s);
    }
}

TEST(IcyStreamReader, ServerThatAcceptsButNeverAnswersTimesOut) {
    HttpTestServer server([](HttpTestServer::Connection& connection, const std::string&) {
        connection.pause(5s);
    });
    CancelSignal cancel;
    IcyStreamReader reader(cancel);
    const auto start = Clock::now();
    EXPECT_EQ(reader.open(server.url("/"), true, 300ms), AudioError::Timeout);
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST(IcyStreamReader, CancelEndsAnOpenAtOnce) {
    SilentAddress silent;
    CancelSignal cancel;
    IcyStreamReader reader(cancel);
    std::thread canceller([&] {
        std::this_thread::sleep_for(100ms);
        cancel.raise();
    });
    const auto start = Clock::now();
    EXPECT_NE(reader.open("http://127.0.0.1:" + std::to_string(silent.port) + "/", true), AudioError::Ok);
    EXPECT_LT(Clock::now() - start, 1s);
    canceller.join();
}

TEST(AudioEngineWindowsMedia, WmaFileOverHttpPlaysWithItsTagsInKeyValueForm) {
    test::TempFolder folder;
    const std::string path = folder.file("tone.wma");
    ASSERT_TRUE(test::makeToneFile(path, "wmav2", 880, 2.0, {"title=Song", "artist=Singer"}));
    const std::string wma = test::readFile(path);
    HttpTestServer server([&](HttpTestServer::Connection& connection, const std::string&) {
        connection.send("HTTP/1.1 200 OK\r\nContent-Type: audio/x-ms-wma\r\nContent-Length: " +
                        std::to_string(wma.size()) + "\r\nConnection: close\r\n\r\n" + wma);
    });
    test::EnginePlayback playback("/dev/null", false);
    ASSERT_EQ(playback.openWindowsMedia(server.url("/tone.wma")), AudioError::Ok);
    AudioEngine& engine = playback.engine();
    AudioStream& stream = playback.decoding();

    const auto info = stream.info();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->channelType, audio::kChannelTypeWindowsMedia);
    EXPECT_EQ(info->flags & audio::kStreamBlock, 0u);
    const auto tags = stream.tags(audio::kTagMeta);
    ASSERT_TRUE(tags);
    EXPECT_NE(std::find(tags->begin(), tags->end(), "title = Song"), tags->end());
    EXPECT_NE(std::find(tags->begin(), tags->end(), "author = Singer"), tags->end());
    EXPECT_TRUE(std::any_of(tags->begin(), tags->end(),
                            [](const std::string& tag) { return tag.rfind("bitrate = ", 0) == 0; }));
    EXPECT_NEAR(static_cast<double>(stream.length()), 2.0 * 44100 * 4, 44100 * 4 * 0.1);

    std::string pcm;
    std::vector<std::uint8_t> buffer(8192);
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
        const AudioResult<std::uint32_t> given = stream.read(buffer);
        if (!given) {
            break;
        }
        const std::uint32_t count = *given;
        pcm.append(buffer.begin(), buffer.begin() + count);
        if (count == 0) {
            std::this_thread::sleep_for(2ms);
        }
    }
    EXPECT_NEAR(test::toneFrequency(test::channelSamples(pcm, 2, 0), 44100), 880, 880 * 0.02);
    // Created to free itself when it ends.
    EXPECT_TRUE(playback.waitForEvent(test::EnginePlayback::From::Decoding, audio::kSyncEnd, 2s));
    engine.waitForNotifications();
    EXPECT_FALSE(stream.info());
}

// Accepts connections, keeps the first bytes each one sends, and hangs up.
class HangingUpListener {
public:
    HangingUpListener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_.get(), 8);
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const auto deadline = Clock::now() + 5s;
            while (Clock::now() < deadline && !stop_.raised()) {
                pollfd entries[2] = {{listener_.get(), POLLIN, 0}, {stop_.readFd(), POLLIN, 0}};
                if (::poll(entries, 2, 100) <= 0 || entries[1].revents != 0) {
                    continue;
                }
                UniqueFd client(::accept(listener_.get(), nullptr, nullptr));
                pollfd readable{client.get(), POLLIN, 0};
                char buffer[2048];
                ssize_t got = ::poll(&readable, 1, 1000) > 0 ? ::recv(client.get(), buffer, sizeof buffer, 0) : 0;
                std::lock_guard<std::mutex> guard(lock_);
                received_.emplace_back(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            }
        });
    }
    ~HangingUpListener() {
        stop_.raise();
        thread_.join();
    }
    int port() const { return port_; }
    std::vector<std::string> received() {
        std::lock_guard<std::mutex> guard(lock_);
        return received_;
    }

private:
    UniqueFd listener_{::socket(AF_INET, SOCK_STREAM, 0)};
    CancelSignal stop_;
    int port_ = 0;
    std::mutex lock_;
    std::vector<std::string> received_;
    std::thread thread_;
};

TEST(AudioEngineWindowsMedia, MmsIsTriedOverHttpThenTcpAndOnlyNetworkSchemesAreOpened) {
    HangingUpListener server;
    test::EnginePlayback playback("/dev/null", false);
    EXPECT_NE(playback.openWindowsMedia("mms://127.0.0.1:" + std::to_string(server.port()) + "/live"),
              AudioError::Ok);
    const auto received = server.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].rfind("GET /live", 0), 0u) << "first as mmsh://, which is HTTP";
    EXPECT_NE(received[1].rfind("GET", 0), 0u) << "then as mmst://";

    test::TempFolder folder;
    test::writeFile(folder.file("a.wma"), "not audio");
    for (const std::string& address : {"file://" + folder.file("a.wma"), folder.file("a.wma"),
                                      std::string("concat:") + folder.file("a.wma")}) {
        EXPECT_EQ(playback.openWindowsMedia(address), AudioError::FileOpen) << address;
    }
}

}  // namespace
}  // namespace korvanel
