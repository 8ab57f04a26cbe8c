#pragma once

#include <string>
#include <string_view>

namespace korvanel {

bool isValidUtf8(std::string_view text);

// Appends one code point (up to U+10FFFF) as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);

// Each byte as the ISO-8859-1 character of that value.
std::string latin1ToUtf8(std::string_view text);

// Valid UTF-8 stays as it is; any other text is read as ISO-8859-1.
std::string toUtf8(std::string_view text);

// For a file declared ISO-8859-1: characters up to U+00FF become single
// bytes, all others numeric character references ("&#x4E2D;"). A byte that
// is not part of valid UTF-8 is taken as the ISO-8859-1 character of that
// value. Characters that XML 1.0 cannot hold at all (control characters
// other than tab, line feed and carriage return) are left out, so the file
// always reads back.
std::string utf8ToLatin1WithReferences(std::string_view text);
void appendUtf8AsLatin1WithReferences(std::string& out, std::string_view text);

// The same removal of characters XML cannot hold, for UTF-8 output.
std::string withoutXmlForbiddenCharacters(std::string_view text);
void appendWithoutXmlForbiddenCharacters(std::string& out, std::string_view text);

// Cuts text to at most maxBytes without splitting a UTF-8 sequence; it
// backs up at most three bytes, also in text that is not UTF-8.
std::string_view truncateUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace korvanel
