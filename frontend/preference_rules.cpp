#include "frontend/preference_rules.h"

#include <array>
#include <climits>

#include "settings/settings_store.h"

namespace korvanel::preferences {

int numberFromField(std::string_view text) { return SettingsStore::parseInt(text); }

int kibToBytes(int kib) {
    constexpr int kLargest = INT_MAX / 1024;
    if (kib > kLargest) {
        return kLargest * 1024;
    }
    if (kib < -kLargest) {
        return -kLargest * 1024;
    }
    return kib * 1024;
}

int bytesToKib(int bytes) { return bytes / 1024; }

int snapLameBitrate(int typed) {
    constexpr std::array kRates = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256};
    for (const int rate : kRates) {
        if (rate >= typed) {
            return rate;
        }
    }
    return 320;
}

std::string deviceListText(const std::vector<int>& numbers) {
    if (numbers.empty()) {
        return "0";  // what the audio layer reads an empty list as: no sound
    }
    std::string text;
    for (const int number : numbers) {
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(number);
    }
    return text;
}

std::string openUrlPrefill(std::string_view clipboard) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t first = clipboard.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::string_view trimmed = clipboard.substr(first, clipboard.find_last_not_of(kBlanks) - first + 1);
    for (const std::string_view scheme : {"http://", "https://", "mms://", "rtsp://"}) {
        if (trimmed.substr(0, scheme.size()) == scheme) {
            return std::string(trimmed);
        }
    }
    return {};
}

std::string quotationKey(unsigned draw) {
    return "Dialogs/About/Quote" + std::to_string(draw % kQuotationCount + 1);
}

}  // namespace korvanel::preferences
