#include "recording/file_name_pattern.h"

#include <array>

#include "recording/file_name_cleaning.h"

namespace korvanel {
namespace {

std::string formatTime(const std::string& format, const std::tm& time) {
    if (format.empty()) {
        return {};
    }
    std::array<char, FileNamePattern::kMaxTimeChars + 1> buffer{};
    // strftime gives 0 when the result does not fit: the token then stays empty.
    const std::size_t length = std::strftime(buffer.data(), buffer.size(), format.c_str(), &time);
    return std::string(buffer.data(), length);
}

}  // namespace

std::string FileNamePattern::substitute(std::string_view station, std::string_view track, const std::time_t* now) const {
    std::tm local{};
    if (now != nullptr) {
        ::localtime_r(now, &local);
    }
    std::string out;
    std::size_t offset = 0;
    while (offset < pattern_.size()) {
        const std::size_t open = pattern_.find('%', offset);
        if (open == std::string::npos) {
            out.append(pattern_, offset);
            break;
        }
        out.append(pattern_, offset, open - offset);
        const std::size_t close = pattern_.find('%', open + 1);
        if (close == std::string::npos) {
            out.append(pattern_, open);
            break;
        }
        const std::string_view token = std::string_view(pattern_).substr(open + 1, close - open - 1);
        if (token == "station" || token == "title") {
            out += station;
        } else if (token == "songname" || token == "track") {
            out += track;
        } else if (token == "unix" || token == "time" || token == "date") {
            if (now == nullptr) {
                out.append(pattern_, open, close + 1 - open);  // left for the full expansion
            } else if (token == "unix") {
                out += std::to_string(static_cast<long long>(*now));
            } else {
                out += formatTime(token == "time" ? timeFormat_ : dateFormat_, local);
            }
        } else {
            // Not a token: keep the '%' and look for a token from the next one on.
            out.push_back('%');
            offset = open + 1;
            continue;
        }
        offset = close + 1;
    }
    return out;
}

std::string FileNamePattern::expand(std::string_view stationName, std::string_view trackTitle, std::time_t now) {
    const std::string station = cleanNameValue(stationName);
    const std::string track = trackTitle.empty() ? std::string("untitled") : cleanNameValue(trackTitle);
    std::string expansion = substitute(station, track, nullptr);
    if (expandedBefore_ && expansion == lastExpansion_) {
        return lastName_;
    }
    lastName_ = safeRelativeName(substitute(station, track, &now));
    lastExpansion_ = std::move(expansion);
    expandedBefore_ = true;
    return lastName_;
}

}  // namespace korvanel
