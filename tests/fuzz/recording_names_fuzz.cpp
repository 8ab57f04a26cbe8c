// The recorder's file names: pattern expansion with fuzzed pattern, time
// formats, station name and title, the cleaning of values and names, and the
// unique path in the recording folder. The program aborts on any name that
// could leave the folder: an absolute path, an empty, "." or ".." component
// (or any hidden one), a NUL byte, or a component over the length bound.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

#include "recording/file_name_cleaning.h"
#include "recording/file_name_pattern.h"
#include "recording/recording_paths.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using korvanel::FileNamePattern;

// No folder of this name exists, so the first candidate is always free.
constexpr std::string_view kFolder = "/nonexistent-recording-folder-for-fuzzing/";

void checkRelativeName(std::string_view name) {
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.find('\0') == std::string_view::npos);
    FUZZ_CHECK(name.find('\\') == std::string_view::npos);
    FUZZ_CHECK(name.front() != '/');
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = name.find('/', start);
        const std::string_view component = name.substr(start, slash == std::string_view::npos ? slash : slash - start);
        FUZZ_CHECK(!component.empty() && component.front() != '.');
        FUZZ_CHECK(component.size() <= korvanel::kMaxComponentBytes);
        if (slash == std::string_view::npos) {
            break;
        }
        start = slash + 1;
    }
}

void checkCleanValue(std::string_view value) {
    const std::string cleaned = korvanel::cleanNameValue(value);
    FUZZ_CHECK(cleaned.size() <= korvanel::kMaxValueChars);
    bool plain = value.size() <= korvanel::kMaxValueChars;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        plain = plain && byte >= 0x20 && byte < 0x80 && std::string_view("\"*/:<>?\\|").find(c) == std::string_view::npos;
    }
    for (const char c : cleaned) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte >= 0x20 && byte < 0x80);
        FUZZ_CHECK(std::string_view("\"*/:<>?\\|").find(c) == std::string_view::npos);
    }
    // A value that is already plain is kept as it is.
    FUZZ_CHECK(!plain || cleaned == value);
}

void checkPath(std::string_view name, std::string_view extension) {
    const std::string path = korvanel::uniqueRecordingPath(std::string(kFolder), name, extension);
    FUZZ_CHECK(path.starts_with(kFolder) && path.ends_with(extension));
    const std::string_view inside = std::string_view(path).substr(kFolder.size());
    checkRelativeName(inside);
    FUZZ_CHECK(korvanel::parentFolder(path).starts_with(kFolder.substr(0, kFolder.size() - 1)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string station = input.ConsumeRandomLengthString(600);
    const std::string title = input.ConsumeRandomLengthString(600);
    const std::string timeFormat = input.ConsumeRandomLengthString(64);
    const std::string dateFormat = input.ConsumeRandomLengthString(64);
    const auto now = static_cast<std::time_t>(input.ConsumeIntegralInRange<std::int64_t>(-(1LL << 40), 1LL << 40));
    const std::string pattern = input.ConsumeRemainingBytesAsString();

    checkCleanValue(station);
    checkCleanValue(title);
    checkRelativeName(korvanel::safeRelativeName(pattern));

    FileNamePattern names;
    names.setPattern(pattern);
    names.setTimeFormat(timeFormat);
    names.setDateFormat(dateFormat);
    const std::string name = names.expand(station, title, now);
    checkRelativeName(name);
    // The same station and title keep their file, whatever the time.
    FUZZ_CHECK(names.expand(station, title, now + 3600) == name);
    checkPath(name, ".mp3");
    checkPath(name, ".ogg");
    checkPath(name, "");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Local time without the system's zone files, the same on every machine.
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    return 0;
}
