#include "stream/chunked_decoder.h"

#include <algorithm>

namespace korvanel {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

bool ChunkedDecoder::endSizeLine() {
    std::string_view text = line_;
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    text = text.substr(0, text.find(';'));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    // At most 15 digits: no chunk is anywhere near 2^60 bytes.
    if (text.empty() || text.size() > 15) {
        return false;
    }
    std::uint64_t size = 0;
    for (const char c : text) {
        const int digit = hexValue(c);
        if (digit < 0) {
            return false;
        }
        size = size * 16 + static_cast<std::uint64_t>(digit);
    }
    line_.clear();
    left_ = size;
    part_ = size == 0 ? Part::Trailer : Part::Data;
    return true;
}

ChunkedDecoder::State ChunkedDecoder::feed(std::string_view input, std::string& out) {
    while (!input.empty() && state_ == State::Running) {
        switch (part_) {
            case Part::SizeLine: {
                const char c = input.front();
                input.remove_prefix(1);
                if (c != '\n') {
                    line_.push_back(c);
                    if (line_.size() > kMaxLineBytes) {
                        state_ = State::Malformed;
                    }
                } else if (!endSizeLine()) {
                    state_ = State::Malformed;
                }
                break;
            }
            case Part::Data: {
                const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(left_, input.size()));
                out.append(input.substr(0, count));
                input.remove_prefix(count);
                left_ -= count;
                if (left_ == 0) {
                    part_ = Part::DataEnd;
                }
                break;
            }
            case Part::DataEnd: {
                // "\r\n" after the data; a bare "\n" is taken as well.
                const char c = input.front();
                input.remove_prefix(1);
                if (c == '\n') {
                    part_ = Part::SizeLine;
                } else if (c != '\r' || !line_.empty()) {
                    state_ = State::Malformed;
                } else {
                    line_.push_back('\r');
                }
                if (part_ == Part::SizeLine) {
                    line_.clear();
                }
                break;
            }
            case Part::Trailer: {
                const char c = input.front();
                input.remove_prefix(1);
                if (++trailerBytes_ > kMaxTrailerBytes) {
                    state_ = State::Malformed;
                } else if (c == '\n') {
                    if (trailerLineEmpty_) {
                        state_ = State::Done;
                    }
                    trailerLineEmpty_ = true;
                } else if (c != '\r') {
                    trailerLineEmpty_ = false;
                }
                break;
            }
        }
    }
    return state_;
}

}  // namespace korvanel
