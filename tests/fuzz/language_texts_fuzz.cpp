// Language files and text formatting: a loaded file over the English texts,
// the placeholder check, and formatText with the input itself as the text.
// Checked: every text that survives the check has its default's conversions
// and consumes its arguments; formatting stays within its bound, keeps
// UTF-8 whole, and for plain %s/%d/%% texts gives what a simple substitution
// gives.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/language_texts.h"
#include "settings/settings_store.h"
#include "settings/text_encoding.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::TextArg;

std::size_t countOf(std::string_view text, std::string_view piece) {
    std::size_t count = 0;
    for (std::size_t at = text.find(piece); at != std::string_view::npos; at = text.find(piece, at + piece.size())) {
        ++count;
    }
    return count;
}

// Only "%s", "%d", "%i" and "%%", or nothing when the text has any other
// conversion: what formatText must give for such a text, uncut.
std::optional<std::string> simpleSubstitution(std::string_view format, std::initializer_list<TextArg> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t pos = 0; pos < format.size(); ++pos) {
        if (format[pos] != '%') {
            out += format[pos];
            continue;
        }
        if (pos + 1 >= format.size()) {
            return std::nullopt;
        }
        const char letter = format[++pos];
        if (letter == '%') {
            out += '%';
        } else if (letter == 's' || letter == 'd' || letter == 'i') {
            const bool wantsText = letter == 's';
            if (next != args.end() && std::holds_alternative<std::string_view>(*next) == wantsText) {
                out += wantsText ? std::string(std::get<std::string_view>(*next))
                                 : std::to_string(std::get<std::int64_t>(*next));
                ++next;
            } else {
                out += '%';
                out += letter;
            }
        } else {
            return std::nullopt;
        }
    }
    return out;
}

void checkFormat(std::string_view format, std::initializer_list<TextArg> args) {
    const std::string result = korvanel::formatText(format, args);
    FUZZ_CHECK(result.size() <= korvanel::kFormattedTextMaxBytes);
    if (const std::optional<std::string> expected = simpleSubstitution(format, args)) {
        FUZZ_CHECK(result == korvanel::truncateUtf8(*expected, korvanel::kFormattedTextMaxBytes));
    }
    // A precision may cut an argument inside a character; without one, valid
    // UTF-8 in gives valid UTF-8 out.
    bool textsValid = korvanel::isValidUtf8(format) && format.find('.') == std::string_view::npos;
    for (const TextArg& arg : args) {
        if (const auto* text = std::get_if<std::string_view>(&arg)) {
            textsValid = textsValid && korvanel::isValidUtf8(*text);
        }
    }
    if (textsValid) {
        FUZZ_CHECK(korvanel::isValidUtf8(result));
    }
}

// A text formatted with the kinds of argument its English default is given
// ("s" a text, "d" a number, one letter a conversion).
std::string formatLikeTheProgram(std::string_view text, std::string_view signature) {
    std::vector<TextArg> args;
    for (const char kind : signature) {
        args.push_back(kind == 's' ? TextArg{std::string_view("a-b \xE2\x82\xAC")} : TextArg{std::int64_t{-1234567890123}});
    }
    switch (args.size()) {
        case 1: return korvanel::formatText(text, {args[0]});
        case 2: return korvanel::formatText(text, {args[0], args[1]});
        case 3: return korvanel::formatText(text, {args[0], args[1], args[2]});
        default: return korvanel::formatText(text, {});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    checkFormat(text, {});
    checkFormat(text, {std::string_view("x\xC3\xA9y"), std::int64_t{42}, std::string_view("")});
    checkFormat(text, {std::int64_t{INT64_MIN}, std::string_view("%s%n"), std::int64_t{7}});
    (void)korvanel::conversionSignature(text);

    korvanel::SettingsStore language;
    korvanel::registerDefaultTexts(language);
    if (!language.loadFromText(text)) {
        return 0;
    }
    const int rejected = korvanel::rejectMismatchedTexts(language);
    FUZZ_CHECK(rejected >= 0 && static_cast<std::size_t>(rejected) <= korvanel::defaultTexts().size());
    for (const korvanel::DefaultText& original : korvanel::defaultTexts()) {
        const std::string shown = language.getString(original.key);
        const std::string signature = korvanel::conversionSignature(original.text);
        if (shown.empty()) {
            continue;
        }
        FUZZ_CHECK(korvanel::conversionSignature(shown) == signature);
        // Every conversion of a kept text takes its argument, so the only
        // '%' left are the text's own "%%".
        const std::string formatted = formatLikeTheProgram(shown, signature);
        FUZZ_CHECK(countOf(formatted, "%") <= countOf(shown, "%%"));
    }
    return 0;
}
