#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvanel {

// How the preferences' fields turn what was typed into what is stored.
namespace preferences {

// Text fields take at most this many characters.
inline constexpr int kMaxFieldChars = 260;

// A number field: leading blanks and a sign, then digits; anything else
// reads as 0, as the C library's conversion does.
int numberFromField(std::string_view text);

// The recording buffer is shown in KiB and stored in bytes; a number too
// large for the store is held at the largest whole KiB it can take.
int kibToBytes(int kib);
int bytesToKib(int bytes);

// The smallest MP3 bitrate the encoder offers that is not below the typed
// one; 320 above 256 (and for anything the field cannot hold).
int snapLameBitrate(int typed);

// The device setting's comma list of the chosen device numbers, in order;
// none chosen is the no-sound device.
std::string deviceListText(const std::vector<int>& numbers);

// What the Open URL box starts with: the clipboard's text trimmed of blanks
// and line breaks, when it begins with a scheme the player opens (exact
// case), else nothing.
std::string openUrlPrefill(std::string_view clipboard);

// The About box's quotation for a random draw: one of kQuotationCount texts.
inline constexpr int kQuotationCount = 8;
std::string quotationKey(unsigned draw);

}  // namespace preferences
}  // namespace korvanel
