#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvanel {

// Undoes "Transfer-Encoding: chunked" as the bytes arrive, in pieces of any
// size: chunk-size lines (extensions ignored), data, the zero chunk and the
// trailer. The input comes from a server, so lines are bounded and a size
// that is not hexadecimal, or too large, makes the body malformed: nothing
// of it may be taken for data.
class ChunkedDecoder {
public:
    static constexpr std::size_t kMaxLineBytes = 1024;
    static constexpr std::size_t kMaxTrailerBytes = 8192;

    enum class State { Running, Done, Malformed };

    // Appends the data carried in input to out; what comes after the end
    // is ignored.
    State feed(std::string_view input, std::string& out);
    State state() const { return state_; }

private:
    enum class Part { SizeLine, Data, DataEnd, Trailer };

    bool endSizeLine();

    State state_ = State::Running;
    Part part_ = Part::SizeLine;
    std::string line_;
    std::uint64_t left_ = 0;  // data bytes of the current chunk still to come
    std::size_t trailerBytes_ = 0;
    bool trailerLineEmpty_ = true;
};

}  // namespace korvanel
