#pragma once

#include <string>
#include <string_view>

namespace korvanel {

// Turns a downloaded or read playlist into the UTF-8 text that links are
// searched in. Four tests decide whether the bytes are 16-bit text; if any
// says yes, they are read as UTF-16 up to the first zero character and
// converted to UTF-8 (a byte-order mark is dropped, a lone surrogate becomes
// U+FFFD, an odd last byte is ignored); otherwise the text is the bytes up
// to the first zero byte, unconverted.
class PlaylistText {
public:
    // The tests look at the start of the text only, as the first 256
    // 16-bit characters are enough to tell.
    static constexpr std::size_t kProbeUnits = 256;

    // Every character before the first zero character is ASCII widened to
    // 16 bits (zero high byte), and there is at least one.
    static bool looksLikeAscii16(std::string_view bytes);
    // Whether more bytes could no longer change looksLikeAscii16: a zero
    // or non-ASCII character came, or all the probed characters did.
    static bool ascii16IsSettled(std::string_view bytes);
    // Starts with FF FE.
    static bool hasByteOrderMark(std::string_view bytes);
    // Starts with FE FF: big-endian text.
    static bool hasReversedByteOrderMark(std::string_view bytes);
    // Holds a zero byte among the probed bytes, which 8-bit text never does.
    static bool hasZeroBytes(std::string_view bytes);

    static std::string decode(std::string_view bytes);

    enum class ByteOrder { LittleEndian, BigEndian };
    static std::string utf16ToUtf8(std::string_view bytes, ByteOrder order);
};

}  // namespace korvanel
