// The chunked-body decoder on any bytes, fed whole and in pieces of any
// size. Checked: the pieces give exactly what the whole gives, and the data
// handed out is never more than the input.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stream/chunked_decoder.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    korvanel::ChunkedDecoder whole;
    std::string wholeOut;
    const auto wholeState = whole.feed(input, wholeOut);
    FUZZ_CHECK(wholeOut.size() <= size);

    korvanel::ChunkedDecoder pieces;
    std::string piecesOut;
    const std::size_t step = size > 0 ? data[0] % 7 + 1 : 1;
    for (std::size_t at = 0; at < size; at += step) {
        pieces.feed(input.substr(at, step), piecesOut);
    }
    FUZZ_CHECK(pieces.state() == wholeState);
    FUZZ_CHECK(piecesOut == wholeOut);
    return 0;
}
