#include "audio/engine/network_feed.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "audio/engine/byte_ring.h"
#include "audio/engine/decoding_stream.h"
#include "audio/engine/hls_stream_reader.h"
#include "audio/engine/icy_metadata_splitter.h"
#include "audio/engine/icy_stream_reader.h"
#include "audio/engine/sample_playout.h"
#include "audio/engine/stream_callbacks.h"
#include "audio/engine/title_placement.h"
#include "stream/cancel_signal.h"

namespace korvanel {
namespace {

using Clock = std::chrono::steady_clock;

// Text for an ICY metadata value: & and ; as character references, so no
// name can end its field early.
std::string icyValue(std::string_view text) {
    std::string value;
    for (const char c : text) {
        if (c == '&') {
            value += "&#38;";
        } else if (c == ';') {
            value += "&#59;";
        } else {
            value += c;
        }
    }
    return value;
}

// Names as an ICY metadata block, which is how the metadata reader takes
// the names of MP3 and AAC streams.
std::string icyBlock(std::string_view title, std::string_view station) {
    std::string block = "StreamTitle='" + icyValue(title) + "';";
    if (!station.empty()) {
        block += "StreamName='" + icyValue(station) + "';";
    }
    return block;
}

std::uint64_t readPosition(const SamplePlayout& playout) { return static_cast<std::uint64_t>(playout.position()); }

}  // namespace

void NetworkFeed::ended(ByteRing& raw) {
    raw.finish();
    if (!cancel_.raised()) {
        callbacks_.download({}, true);
    }
}

void NetworkFeed::runHls(HlsStreamReader& reader, ByteRing& raw) {
    std::uint64_t audioBytes = 0;
    const bool ogg = reader.formatName() == "ogg";
    const HlsStreamReader::Sinks sinks{
        [&](std::span<const std::uint8_t> bytes) {
            callbacks_.download(bytes, false);
            bodyBytes_.fetch_add(bytes.size());
            if (!raw.write(bytes)) {
                return false;
            }
            audioBytes += bytes.size();
            return true;
        },
        [&](const std::string& title, const std::string& station) {
            // Ogg made of Opus or FLAC fragments names its titles as Ogg does.
            titles_.announce(ogg ? "TITLE=" + title : icyBlock(title, station), audioBytes, readPosition(playout_));
        },
    };
    reader.run(sinks);
    ended(raw);
}

void NetworkFeed::runIcy(IcyStreamReader& reader, ByteRing& raw, std::size_t metadataInterval) {
    IcyMetadataSplitter splitter(metadataInterval);
    std::vector<std::uint8_t> buffer(16384);
    bool stop = false;
    std::uint64_t audioBytes = 0;
    const auto audio = [&](std::span<const std::uint8_t> bytes) {
        callbacks_.download(bytes, false);
        if (!raw.write(bytes)) {
            stop = true;
        }
        audioBytes += bytes.size();
    };
    const auto metadata = [&](std::string text) {
        titles_.announce(std::move(text), audioBytes, readPosition(playout_));
    };
    auto lastData = Clock::now();
    while (!stop) {
        // Until the first samples are out, silence is a failed open. A wait
        // begun before then gets the longer bound once they are out.
        const auto bound = ready_.load() ? DecodingStream::kSilenceTimeout : IcyStreamReader::kTimeout;
        const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastData);
        const auto result = reader.read(buffer, std::max(bound - silent, std::chrono::milliseconds(0)));
        if (result.status == NetStatus::TimedOut && ready_.load() &&
            Clock::now() - lastData < DecodingStream::kSilenceTimeout) {
            continue;
        }
        if (result.status != NetStatus::Ok) {
            if (result.status == NetStatus::TimedOut) {
                timedOut_.store(true);
            }
            break;
        }
        lastData = Clock::now();
        bodyBytes_.fetch_add(result.count);
        splitter.feed(std::span<const std::uint8_t>(buffer.data(), result.count), audio, metadata);
    }
    ended(raw);
}

}  // namespace korvanel
