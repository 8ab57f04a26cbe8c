#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "settings/settings_store.h"

namespace korvanel {

struct DefaultText {
    const char* key;
    const char* text;
};

// The English texts, in registration order.
std::span<const DefaultText> defaultTexts();

// Puts every English text, overwriting whatever a language file had set.
void registerDefaultTexts(SettingsStore& store);

// A language file is untrusted: a loaded text whose placeholders differ from
// its English default's (count, order or kind) is replaced by the default.
// Returns how many texts were replaced.
int rejectMismatchedTexts(SettingsStore& language);

// The printf conversions of a text as one letter each ("s", "d"); "%%" is
// none. Anything this program never supplies ('*', %n, unknown letters)
// yields "?" so that it can never match a default.
std::string conversionSignature(std::string_view format);

// Results of formatText are cut to this many bytes, as the texts' fixed
// buffers were.
inline constexpr std::size_t kFormattedTextMaxBytes = 1023;

using TextArg = std::variant<std::string_view, std::int64_t>;

// printf-style formatting of a language text that never trusts the text: a
// conversion whose argument is missing or of another kind is written out
// literally, and the result is cut at kFormattedTextMaxBytes without
// splitting a UTF-8 character.
std::string formatText(std::string_view format, std::initializer_list<TextArg> args);

}  // namespace korvanel
