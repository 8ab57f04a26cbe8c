#pragma once

#include <string>
#include <string_view>

namespace korvanel {

// Case and blanks of protocol text (headers, tags, playlist lines), which
// are ASCII whatever the locale: bytes above 0x7F stay as they are.
char lowerAscii(char c);
std::string lowerAscii(std::string_view text);
// Without the blanks given at either end.
std::string_view trimmedAscii(std::string_view text, std::string_view blanks = " \t\r\n");
// Whether text begins with prefix (given in lower case) in any case.
bool startsWithFolded(std::string_view text, std::string_view prefix);
// Every byte but the unreserved ones of addresses (letters, digits, "-._~")
// and those in alsoKept as %XX.
std::string percentEncoded(std::string_view text, std::string_view alsoKept = {});

}  // namespace korvanel
