// A stream server's response head as the audio engine reads it: the end
// search, the head parser, header lookup, the metadata interval and the
// station name and address taken from the ICY lines. Checked: the end is the
// first blank line, parsed lines hold no NUL or line end and stay within
// the bounds, and station texts are valid UTF-8 within their length.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stream/http_response_head.h"
#include "audio/engine/icy_metadata_splitter.h"
#include "audio/stream_info.h"
#include "settings/text_encoding.h"
#include "audio/metadata_parser.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::HttpResponseHead;

std::size_t firstBlankLineEnd(std::string_view text) {
    const std::size_t crlf = text.find("\n\r\n");
    const std::size_t lf = text.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos) {
        return 0;
    }
    return crlf < lf ? crlf + 3 : lf + 2;
}

bool isCleanLine(std::string_view line) {
    return line.find('\0') == std::string_view::npos && line.find('\n') == std::string_view::npos;
}

void checkStationTexts(const HttpResponseHead& head) {
    korvanel::StreamInfo info([] { return std::int64_t{0}; });
    korvanel::MetadataParser parser(info, nullptr, nullptr);
    parser.parseHeaders(head.lines);
    for (const std::string& text : {info.stationName(), info.stationUrl()}) {
        FUZZ_CHECK(korvanel::isValidUtf8(text));
        FUZZ_CHECK(text.find('\0') == std::string::npos);
        FUZZ_CHECK(text.size() <= korvanel::MetadataParser::kMaxValueBytes);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view received(reinterpret_cast<const char*>(data), size);
    const std::size_t end = HttpResponseHead::findEnd(received);
    FUZZ_CHECK(end == firstBlankLineEnd(received));

    // The whole input as a head, and the head the reader would cut off.
    for (const std::string_view text : {received, received.substr(0, end)}) {
        const std::optional<HttpResponseHead> head = HttpResponseHead::parse(text);
        if (!head) {
            continue;
        }
        FUZZ_CHECK(text.size() <= HttpResponseHead::kMaxBytes);
        FUZZ_CHECK(head->status >= 0 && head->status <= 999);
        FUZZ_CHECK(isCleanLine(head->statusLine));
        FUZZ_CHECK(head->lines.size() <= HttpResponseHead::kMaxLines);
        for (const std::string& line : head->lines) {
            FUZZ_CHECK(!line.empty() && isCleanLine(line));
        }
        for (const std::string_view name : {"icy-metaint", "Content-Length", "location", ""}) {
            if (const std::optional<std::string> value = head->header(name)) {
                FUZZ_CHECK(isCleanLine(*value));
                FUZZ_CHECK(value->empty() || (value->front() != ' ' && value->back() != ' '));
            }
        }
        const std::size_t interval = korvanel::IcyMetadataSplitter::intervalFromHeader(head->header("icy-metaint"));
        FUZZ_CHECK(interval <= korvanel::IcyMetadataSplitter::kMaxInterval);
        checkStationTexts(*head);
    }
    return 0;
}
