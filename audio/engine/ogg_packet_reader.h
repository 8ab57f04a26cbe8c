#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>

namespace korvanel {

// Cuts an Ogg byte stream, arriving in chunks of any size, into packets, so
// that a live Ogg stream decodes without libavformat. Bytes between pages are
// skipped; a packet whose start was not seen, whose pages break off, or that
// grows beyond kMaxPacketBytes is dropped. Not thread-safe.
class OggPacketReader {
public:
    static constexpr std::size_t kMaxPacketBytes = 1024 * 1024;

    struct Packet {
        std::string bytes;
        std::uint32_t serial = 0;
        bool firstOfStream = false;  // from the page that begins a logical stream
    };

    void push(std::span<const std::uint8_t> data);
    // The next whole packet, or nothing until more bytes come.
    std::optional<Packet> next();

private:
    void takePage(std::size_t headerBytes, std::uint32_t serial, bool continued, bool firstOfStream);

    std::string buffer_;
    std::size_t offset_ = 0;  // where the next page begins in buffer_
    std::deque<Packet> ready_;
    std::string partial_;  // a packet that goes on in the next page
    std::uint32_t partialSerial_ = 0;
    bool dropping_ = false;  // the rest of the current packet is not kept
};

}  // namespace korvanel
