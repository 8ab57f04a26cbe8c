#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "stream/byte_buffer.h"

namespace korvanel {

// Cuts an Ogg byte stream, arriving in chunks of any size, into units: a
// page together with the pages that continue its last packet, so that a
// file made of whole units holds whole packets. Bytes between pages are
// dropped, and so is a page that continues a packet whose start was not
// seen. Not thread-safe.
class OggUnitParser {
public:
    // Units larger than this (a packet spread over very many pages) are
    // dropped rather than held without end.
    static constexpr std::size_t kMaxUnitBytes = 16 * 1024 * 1024;

    struct Unit {
        std::string_view bytes;
        bool firstOfStream = false;  // its first page begins a logical stream
        bool lastOfStream = false;   // one of its pages ends the logical stream
        int packetsEnded = 0;
        std::uint32_t serial = 0;
    };

    // Adds bytes and hands each complete unit to sink(const Unit&); the
    // bytes stay valid only during the call. False when memory ran out (the
    // chunk is then dropped).
    template <class Sink>
    bool push(const void* data, std::size_t length, Sink&& sink) {
        if (!incoming_.removeFront(consumed_) || !incoming_.append(data, length)) {
            consumed_ = 0;
            return false;
        }
        consumed_ = 0;
        Unit unit;
        while (nextUnit(unit)) {
            sink(static_cast<const Unit&>(unit));
        }
        return true;
    }

    void reset();

    // Bytes held back until their unit is complete.
    std::size_t heldBytes() const { return incoming_.size() - consumed_; }

private:
    bool nextUnit(Unit& unit);

    ByteBuffer incoming_;
    std::size_t consumed_ = 0;  // front bytes already handed out or dropped
};

}  // namespace korvanel
