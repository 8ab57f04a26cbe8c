#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace korvanel {

// Turns the file pattern ("Recording/FilePattern") into a file name,
// relative to the recording folder and without extension. Tokens:
// %station% and %title% (the station name), %songname% and %track% (the
// track title, or "untitled"), %unix% (seconds since 1970), %time% and
// %date% (local time in the strftime formats "Recording/TimeFormat" and
// "Recording/DateFormat"). Values are cleaned (cleanNameValue) and never
// scanned for tokens themselves; the result is made safe as a path inside
// the folder (safeRelativeName).
//
// While station and title give the same name as the last time, the last
// result is returned unchanged, so the time tokens alone never start a new
// file. Not thread-safe.
class FileNamePattern {
public:
    static constexpr const char* kDefaultPattern = "%title%\\%track%";
    static constexpr const char* kDefaultTimeFormat = "%H%M%S";
    static constexpr const char* kDefaultDateFormat = "%Y%m%d";
    // The longest formatted time a token may give.
    static constexpr std::size_t kMaxTimeChars = 259;

    void setPattern(std::string_view pattern) { pattern_ = pattern; }
    void setTimeFormat(std::string_view format) { timeFormat_ = format; }
    void setDateFormat(std::string_view format) { dateFormat_ = format; }
    const std::string& pattern() const { return pattern_; }

    std::string expand(std::string_view stationName, std::string_view trackTitle, std::time_t now);

private:
    // With now == nullptr the time tokens stay as they are.
    std::string substitute(std::string_view station, std::string_view track, const std::time_t* now) const;

    std::string pattern_ = kDefaultPattern;
    std::string timeFormat_ = kDefaultTimeFormat;
    std::string dateFormat_ = kDefaultDateFormat;
    std::string lastExpansion_;
    std::string lastName_;
    bool expandedBefore_ = false;
};

}  // namespace korvanel
