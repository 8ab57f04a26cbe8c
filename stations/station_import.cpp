#include "stations/station_import.h"

#include <expat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <unordered_map>

#include "base/ascii_text.h"
#include "settings/text_encoding.h"
#include "stations/file_uri.h"
#include "stream/playlist_sniffer.h"
#include "stream/playlist_text.h"
#include "stream/source_classification.h"

namespace korvanel {

namespace {

constexpr std::size_t kBlockBytes = 64 * 1024;
// Longer lines and texts are no address or title anyone wrote.
constexpr std::size_t kMaxLineBytes = 64 * 1024;
constexpr std::size_t kMaxTitleBytes = 1024;
constexpr std::size_t kMaxSources = 32;

using Block = std::function<bool(std::string_view bytes)>;

// Calls each with the file's blocks in order until it returns false.
bool readBlocks(const std::string& path, const Block& each, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot be read";
        return false;
    }
    std::string block(kBlockBytes, '\0');
    while (file) {
        file.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto got = static_cast<std::size_t>(file.gcount());
        if (got > 0 && !each(std::string_view(block.data(), got))) {
            return true;
        }
    }
    if (file.bad()) {
        error = "could not be read to its end";
        return false;
    }
    return true;
}

// A title as a list may hold it: no control characters, no blanks around,
// bounded without cutting a character.
std::string cleanTitle(std::string_view text) {
    std::string out;
    for (const char c : trimmedAscii(text)) {
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    if (out.size() > kMaxTitleBytes) {
        std::size_t end = kMaxTitleBytes;
        while (end > 0 && (static_cast<unsigned char>(out[end]) & 0xC0) == 0x80) {
            --end;
        }
        out.resize(end);
    }
    return std::string(trimmedAscii(out));
}

// Collects stations, counting what cannot be one.
class Collector {
public:
    Collector(StationImport& into, std::string folder) : into_(into), folder_(std::move(folder)) {}

    // Sources are entries of the list; a station without any usable one is
    // skipped.
    void add(std::string_view title, const std::vector<std::string>& entries, std::string url = {}) {
        FavoriteStation station;
        for (const std::string& entry : entries) {
            if (std::optional<std::string> address = importedAddress(entry, folder_)) {
                station.sources.push_back(std::move(*address));
            }
        }
        if (station.sources.empty()) {
            ++into_.skipped;
            return;
        }
        if (into_.stations.size() >= kMaxImportStations) {
            ++into_.leftOut;
            return;
        }
        station.title = cleanTitle(title);
        if (station.title.empty()) {
            // Named by its address, within a title's bound.
            station.title = cleanTitle(station.sources.front());
        }
        station.url = cleanTitle(url);
        into_.stations.push_back(std::move(station));
    }

    void skip() { ++into_.skipped; }
    void leaveOut(std::size_t count) { into_.leftOut += count; }

private:
    StationImport& into_;
    std::string folder_;
};

// Turns the file's bytes into UTF-8 lines: 16-bit text by its byte-order
// mark or its zero high bytes, else each line as UTF-8 where it is valid
// and as Latin-1 where it is not.
class TextLines {
public:
    using Line = std::function<void(std::string_view line)>;
    TextLines(Line line, Collector& collector) : line_(std::move(line)), collector_(collector) {}

    bool feed(std::string_view bytes) {
        if (ended_) {
            return false;
        }
        if (first_) {
            first_ = false;
            if (PlaylistText::hasReversedByteOrderMark(bytes)) {
                width_ = Width::Big16;
            } else if (PlaylistText::hasByteOrderMark(bytes) || PlaylistText::looksLikeAscii16(bytes)) {
                width_ = Width::Little16;
            }
        }
        if (width_ == Width::Eight) {
            eightBit(bytes);
        } else {
            sixteenBit(bytes);
        }
        return !ended_;
    }

    void finish() {
        if (!ended_ && (!current_.empty() || overlong_)) {
            endLine();
        }
        ended_ = true;
    }

private:
    enum class Width { Eight, Little16, Big16 };

    void eightBit(std::string_view bytes) {
        for (const char c : bytes) {
            if (c == '\0') {
                // 8-bit text ends at a zero byte.
                finish();
                return;
            }
            append(c);
        }
    }

    void sixteenBit(std::string_view bytes) {
        pending_.append(bytes);
        const auto order = width_ == Width::Big16 ? PlaylistText::ByteOrder::BigEndian
                                                  : PlaylistText::ByteOrder::LittleEndian;
        std::size_t usable = pending_.size() & ~std::size_t{1};
        // A surrogate pair cut by the block is converted with its second half.
        if (usable >= 2) {
            const auto a = static_cast<unsigned char>(pending_[usable - 2]);
            const auto b = static_cast<unsigned char>(pending_[usable - 1]);
            const unsigned unit = order == PlaylistText::ByteOrder::BigEndian ? (a << 8) | b : (b << 8) | a;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                usable -= 2;
            }
        }
        const std::string_view units(pending_.data(), usable);
        // The conversion stops at a zero character, the text's end.
        bool zero = false;
        for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
            if (units[i] == '\0' && units[i + 1] == '\0') {
                zero = true;
                break;
            }
        }
        for (const char c : PlaylistText::utf16ToUtf8(units, order)) {
            append(c);
        }
        pending_.erase(0, usable);
        if (zero) {
            finish();
        }
    }

    void append(char c) {
        if (c == '\n') {
            endLine();
        } else if (current_.size() < kMaxLineBytes) {
            current_ += c;
        } else {
            overlong_ = true;
        }
    }

    void endLine() {
        if (overlong_) {
            collector_.skip();
        } else {
            std::string_view text = current_;
            if (!seenLine_ && text.starts_with("\xEF\xBB\xBF")) {
                text.remove_prefix(3);
            }
            if (width_ == Width::Eight && !isValidUtf8(text)) {
                const std::string converted = latin1ToUtf8(text);
                line_(trimmedAscii(converted));
            } else {
                line_(trimmedAscii(text));
            }
        }
        seenLine_ = true;
        overlong_ = false;
        current_.clear();
    }

    Line line_;
    Collector& collector_;
    Width width_ = Width::Eight;
    bool first_ = true;
    bool ended_ = false;
    bool seenLine_ = false;
    bool overlong_ = false;
    std::string pending_;
    std::string current_;
};

// #EXTINF:<length>[ attributes],<title>: the title follows the first
// comma outside the attributes' quotes.
std::string_view extinfTitle(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == ',' && !quoted) {
            return line.substr(i + 1);
        }
    }
    return {};
}

class M3uReader {
public:
    explicit M3uReader(Collector& collector) : collector_(collector) {}

    void line(std::string_view text) {
        if (text.empty()) {
            return;
        }
        if (text.front() == '#') {
            if (startsWithFolded(text, "#extinf:")) {
                title_ = std::string(extinfTitle(text));
            }
            return;
        }
        collector_.add(title_, {std::string(text)});
        title_.clear();
    }

private:
    Collector& collector_;
    std::string title_;
};

// FileN= and TitleN= lines, in the order their numbers first come.
class PlsReader {
public:
    explicit PlsReader(Collector& collector) : collector_(collector) {}

    void line(std::string_view text) {
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            return;
        }
        const std::string key = lowerAscii(trimmedAscii(text.substr(0, equals)));
        const std::string_view value = trimmedAscii(text.substr(equals + 1));
        const bool file = key.starts_with("file");
        const bool title = key.starts_with("title");
        const std::string number = key.substr(file ? 4 : title ? 5 : key.size());
        if (number.empty() || number.size() > 9 ||
            !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return;
        }
        const auto [at, added] = index_.try_emplace(number, entries_.size());
        if (added) {
            if (entries_.size() > kMaxImportStations) {
                // Past every station that can be kept: counted by its FileN
                // alone (its TitleN is no second station), not held.
                index_.erase(at);
                beyond_ += file ? 1 : 0;
                return;
            }
            entries_.emplace_back();
        }
        Entry& entry = entries_[at->second];
        (file ? entry.address : entry.title) = std::string(value.substr(0, kMaxLineBytes));
    }

    void finish() {
        for (const Entry& entry : entries_) {
            if (entry.address.empty()) {
                continue;  // a title alone names nothing
            }
            collector_.add(entry.title, {entry.address});
        }
        collector_.leaveOut(beyond_);
    }

private:
    struct Entry {
        std::string address;
        std::string title;
    };
    Collector& collector_;
    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::size_t> index_;
    std::size_t beyond_ = 0;
};

struct ExpatDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

// XSPF tracks, ASX entries and our Stations, told apart by the root.
class XmlReader {
public:
    XmlReader(Collector& collector, std::string group) : collector_(collector), group_(std::move(group)) {}

    // False with the problem set when the file cannot be read or is no
    // well-formed XML.
    bool read(const std::string& path, StationImport& into) {
        std::string& error = into.error;
        into.problem = ImportProblem::Unreadable;
        const std::unique_ptr<XML_ParserStruct, ExpatDeleter> parser(XML_ParserCreate(nullptr));
        if (!parser) {
            error = "could not be read (out of memory)";
            return false;
        }
        parser_ = parser.get();
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &XmlReader::onStart, &XmlReader::onEnd);
        XML_SetCharacterDataHandler(parser_, &XmlReader::onText);
        bool failed = false;
        const bool read = readBlocks(path, [&](std::string_view bytes) {
            failed = XML_Parse(parser_, bytes.data(), static_cast<int>(bytes.size()), XML_FALSE) != XML_STATUS_OK;
            return !failed;
        }, error);
        if (!read) {
            return false;
        }
        if (failed || XML_Parse(parser_, "", 0, XML_TRUE) != XML_STATUS_OK) {
            into.problem = ImportProblem::Malformed;
            into.problemLine = static_cast<std::size_t>(XML_GetCurrentLineNumber(parser_));
            error = std::string("is not well-formed XML (") + XML_ErrorString(XML_GetErrorCode(parser_)) +
                    " at line " + std::to_string(into.problemLine) + ")";
            return false;
        }
        into.problem = ImportProblem::None;
        return true;
    }

    bool groupFound() const { return groupDepth_ >= 0 || groupClosed_; }

private:
    enum class Form { Unknown, Xspf, Asx, StationList };

    static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
        static_cast<XmlReader*>(data)->start(lowerAscii(name), attributes);
    }
    static void XMLCALL onEnd(void* data, const XML_Char* name) { static_cast<XmlReader*>(data)->end(lowerAscii(name)); }
    static void XMLCALL onText(void* data, const XML_Char* text, int length) {
        XmlReader& reader = *static_cast<XmlReader*>(data);
        if (reader.inText_ && reader.text_.size() < kMaxLineBytes) {
            reader.text_.append(text, static_cast<std::size_t>(std::min<int>(length, kMaxLineBytes)));
        }
    }

    static std::string attribute(const XML_Char** attributes, std::string_view name) {
        for (int i = 0; attributes[i] != nullptr; i += 2) {
            if (lowerAscii(attributes[i]) == name) {
                return std::string(attributes[i + 1]).substr(0, kMaxLineBytes);
            }
        }
        return {};
    }

    // Whether a station here belongs to what is read.
    bool inScope() const { return group_.empty() || (groupDepth_ >= 0 && depth_ > groupDepth_); }

    void start(const std::string& name, const XML_Char** attributes) {
        ++depth_;
        if (depth_ == 1) {
            form_ = name == "playlist" ? Form::Xspf : name == "asx" ? Form::Asx : Form::StationList;
        }
        inText_ = false;
        switch (form_) {
            case Form::Xspf:
                if (name == "track") {
                    openStation();
                } else if (station_ && depth_ == stationDepth_ + 1 && (name == "location" || name == "title")) {
                    beginText();
                }
                break;
            case Form::Asx:
                if (name == "entry") {
                    openStation();
                } else if (station_ && name == "ref" && entries_.size() < kMaxSources) {
                    entries_.push_back(attribute(attributes, "href"));
                } else if (station_ && name == "title") {
                    beginText();
                }
                break;
            case Form::StationList:
                if (name == "group" && !group_.empty() && groupDepth_ < 0 && !groupClosed_ &&
                    attribute(attributes, "title") == group_) {
                    groupDepth_ = depth_;
                } else if (name == "station" && inScope()) {
                    openStation();
                    title_ = attribute(attributes, "title");
                    url_ = attribute(attributes, "url");
                } else if (station_ && name == "source") {
                    beginText();
                }
                break;
            case Form::Unknown: break;
        }
    }

    void end(const std::string& name) {
        if (inText_) {
            if (name == "title") {
                title_ = text_;
            } else if (entries_.size() < kMaxSources) {
                entries_.push_back(text_);
            }
            inText_ = false;
        }
        if (station_ && depth_ == stationDepth_) {
            collector_.add(title_, entries_, url_);
            station_ = false;
        }
        if (depth_ == groupDepth_) {
            groupDepth_ = -1;
            groupClosed_ = true;
        }
        --depth_;
    }

    void openStation() {
        if (station_) {
            return;  // nested: the outer one holds what it finds
        }
        station_ = true;
        stationDepth_ = depth_;
        title_.clear();
        url_.clear();
        entries_.clear();
    }

    void beginText() {
        inText_ = true;
        text_.clear();
    }

    Collector& collector_;
    std::string group_;
    XML_Parser parser_ = nullptr;
    Form form_ = Form::Unknown;
    int depth_ = 0;
    int groupDepth_ = -1;
    bool groupClosed_ = false;
    bool station_ = false;
    int stationDepth_ = 0;
    bool inText_ = false;
    std::string text_;
    std::string title_;
    std::string url_;
    std::vector<std::string> entries_;
};

std::string folderOf(const std::string& path) {
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failed);
    return failed ? std::string() : absolute.parent_path().string();
}

bool readLines(const std::string& path, Collector& collector, const TextLines::Line& line, std::string& error) {
    TextLines lines(line, collector);
    const bool read = readBlocks(path, [&lines](std::string_view bytes) { return lines.feed(bytes); }, error);
    lines.finish();
    return read;
}

}  // namespace

std::optional<std::string> importedAddress(std::string_view entry, const std::string& folder) {
    entry = trimmedAscii(entry);
    const auto hasControl = [](std::string_view text) {
        return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    };
    if (entry.empty() || entry.size() > kMaxLineBytes || hasControl(entry)) {
        return std::nullopt;
    }
    // A scheme: letters, digits, '+', '-' and '.' up to a colon before any '/'.
    const std::size_t colon = entry.find(':');
    const bool hasScheme = colon != std::string_view::npos && colon > 0 && entry.substr(0, colon).find('/') ==
                                                                                std::string_view::npos;
    if (hasScheme) {
        if (lowerAscii(entry.substr(0, colon)) == "file") {
            // An escaped control character is one all the same.
            std::optional<std::string> path = pathOfFileUri(entry);
            return path && hasControl(*path) ? std::nullopt : path;
        }
        std::string address = lowerAscii(entry.substr(0, colon)) + std::string(entry.substr(colon));
        if (openRoute(address) == OpenRoute::NotNetwork || address.find(' ') != std::string::npos ||
            address.size() <= address.find("://") + 3) {
            return std::nullopt;
        }
        return address;
    }
    std::filesystem::path path(entry);
    if (path.is_relative()) {
        if (folder.empty()) {
            return std::nullopt;
        }
        path = std::filesystem::path(folder) / path;
    }
    return path.lexically_normal().string();
}

StationImport importStations(const std::string& path) {
    StationImport imported;
    Collector collector(imported, folderOf(path));

    std::string head;
    if (!readBlocks(path, [&](std::string_view bytes) {
            head.append(bytes.substr(0, PlaylistSniffer::kDecisiveBytes - head.size()));
            return head.size() < PlaylistSniffer::kDecisiveBytes;
        }, imported.error)) {
        imported.problem = ImportProblem::Unreadable;
        return imported;
    }
    const bool whole = head.size() < PlaylistSniffer::kDecisiveBytes;
    const PlaylistSniffer::Result sniffed = PlaylistSniffer::sniff("", head, whole);
    const std::string decoded = PlaylistText::decode(head);
    const std::string_view text = trimmedAscii(std::string_view(decoded).substr(decoded.starts_with("\xEF\xBB\xBF") ? 3 : 0));
    const std::string extension = lowerAscii(std::filesystem::path(path).extension().string());

    const bool named = sniffed.verdict == PlaylistSniffer::Verdict::Playlist && sniffed.form.has_value();
    const PlaylistForm form = named ? *sniffed.form : PlaylistForm::M3u;
    const bool xml = text.starts_with('<') || (named && (form == PlaylistForm::Xspf || form == PlaylistForm::Asx));
    // An M3U of local file names only is no list to sniffing: its name says it.
    const bool m3u = (named && form == PlaylistForm::M3u) ||
                     (!named && !xml && (extension == ".m3u" || extension == ".m3u8"));
    if (xml) {
        XmlReader reader(collector, {});
        if (!reader.read(path, imported)) {
            imported.stations.clear();
        }
    } else if (named && form == PlaylistForm::Pls) {
        PlsReader reader(collector);
        readLines(path, collector, [&reader](std::string_view line) { reader.line(line); }, imported.error);
        reader.finish();
    } else if (m3u) {
        M3uReader reader(collector);
        readLines(path, collector, [&reader](std::string_view line) { reader.line(line); }, imported.error);
    } else {
        imported.problem = ImportProblem::UnknownForm;
        imported.error = "is not a station list (M3U, PLS, XSPF, ASX or a favourites file)";
    }
    if (!imported.error.empty() && imported.problem == ImportProblem::None) {
        imported.problem = ImportProblem::Unreadable;
    }
    if (!imported.error.empty()) {
        imported.stations.clear();
    }
    return imported;
}

StationImport readStationList(const std::string& path, const std::string& group) {
    StationImport read;
    Collector collector(read, folderOf(path));
    XmlReader reader(collector, group);
    if (!reader.read(path, read)) {
        read.stations.clear();
    } else if (!group.empty() && !reader.groupFound()) {
        read.problem = ImportProblem::NoSuchGroup;
        read.error = "has no group '" + group + "'";
    }
    return read;
}

}  // namespace korvanel
