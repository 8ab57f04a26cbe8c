// What HttpClient::fetch makes of a received response. Checked: a body is
// given only for a 200 status in the first line, it is exactly what follows
// the first blank line, and it is never over the bound.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stream/byte_buffer.h"
#include "stream/http_response.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool statusLineIsOk(std::string_view response) {
    const std::string_view text = response.substr(0, response.find('\0'));
    const std::string_view line = text.substr(0, text.find('\n'));
    return line.find("HTTP/1.0 200 OK") != std::string_view::npos ||
           line.find("HTTP/1.1 200 OK") != std::string_view::npos;
}

void check(std::string_view response, std::size_t maxBodyBytes) {
    const std::optional<std::string_view> body = korvanel::httpResponseBody(response, maxBodyBytes);
    const std::size_t headerEnd = response.find("\r\n\r\n");
    const bool acceptable = statusLineIsOk(response) && headerEnd != std::string_view::npos &&
                            response.size() - (headerEnd + 4) <= maxBodyBytes;
    FUZZ_CHECK(body.has_value() == acceptable);
    if (body) {
        FUZZ_CHECK(body->data() == response.data() + headerEnd + 4);
        FUZZ_CHECK(body->data() + body->size() == response.data() + response.size());
        FUZZ_CHECK(body->size() <= maxBodyBytes);

        // As fetch keeps it: the headers dropped from the front of its buffer.
        korvanel::ByteBuffer received;
        FUZZ_CHECK(received.append(response));
        const std::string expected(*body);
        FUZZ_CHECK(received.removeFront(received.size() - body->size()));
        FUZZ_CHECK(received.view() == expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view response(reinterpret_cast<const char*>(data), size);
    // The bound from the last byte too, so that short bodies meet it.
    const std::size_t smallBound = size > 0 ? data[size - 1] % 64 : 0;
    check(response, smallBound);
    check(response, 0);
    check(response, 16 * 1024 * 1024);
    return 0;
}
