#include "stream/playlist_resolver.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string_view>

#include "base/ascii_text.h"
#include "base/file_util.h"
#include "settings/settings_store.h"
#include "stream/byte_buffer.h"
#include "stream/hls_playlist.h"
#include "stream/http_client.h"
#include "stream/link_scraper.h"
#include "stream/playlist_entries.h"
#include "stream/playlist_sniffer.h"
#include "stream/playlist_text.h"
#include "stream/source_classification.h"

namespace korvanel {

PlaylistResolver::PlaylistResolver(HttpClient& client) : client_(client) {}

void PlaylistResolver::applySettings(SettingsStore& store) {
    std::lock_guard<std::mutex> guard(lock_);
    hlsBandwidth_ = static_cast<std::uint64_t>(std::max(store.getInt(kHlsBandwidthKey), 0));
}

void PlaylistResolver::collectSettings(SettingsStore&) {}

void PlaylistResolver::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    givenList_.clear();
    working_.clear();
    streams_.clear();
    playlists_.clear();
    current_ = 0;
    resolutions_ = 0;
    ++generation_;
}

void PlaylistResolver::setSources(const std::vector<std::string>& sources) {
    std::lock_guard<std::mutex> guard(lock_);
    givenList_ = sources;
    working_ = sources;
    streams_.clear();
    playlists_.clear();
    current_ = 0;
    resolutions_ = 0;
    ++generation_;
}

void PlaylistResolver::setSource(const std::string& address) { setSources({address}); }

std::string PlaylistResolver::firstSource() const {
    std::lock_guard<std::mutex> guard(lock_);
    return givenList_.empty() ? std::string() : givenList_.front();
}

bool PlaylistResolver::isEmpty() const {
    std::lock_guard<std::mutex> guard(lock_);
    return working_.empty();
}

bool PlaylistResolver::needsResolving() const {
    std::lock_guard<std::mutex> guard(lock_);
    if (current_ >= working_.size()) {
        return false;
    }
    const std::string& entry = working_[current_];
    return (korvanel::needsResolving(entry) || playlists_.count(entry) != 0) && streams_.count(entry) == 0;
}

void PlaylistResolver::markCurrentAsPlaylist() {
    std::lock_guard<std::mutex> guard(lock_);
    if (current_ < working_.size()) {
        playlists_.insert(working_[current_]);
    }
}

bool PlaylistResolver::resolveCurrent() {
    std::string entry;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (current_ >= working_.size()) {
            return false;
        }
        if (resolutions_ >= kMaxResolutions) {
            return false;
        }
        entry = working_[current_];
        generation = generation_;
    }

    std::string address(trimmedAscii(entry));
    const std::string bytes = readBytes(address);
    const std::string text = PlaylistText::decode(bytes);
    const PlaylistSniffer::Result sniffed = PlaylistSniffer::sniff({}, bytes, true);
    std::vector<std::string> links;
    std::string stream;
    if (PlaylistSniffer::isAsfFile(bytes) && isWebAddress(address)) {
        // Audio under a playlist's name (an ASF file called .asx): played,
        // not scraped.
        stream = entry;
        links.push_back(entry);
    } else if (HlsPlaylist::recognise(text)) {
        stream = hlsStream(text, address);
        if (!stream.empty()) {
            links.push_back(stream);
        }
    } else {
        links = scrapeLinks(playlistLinkText(text, sniffed.form, address));
        // A playlist that names itself would be resolved for ever.
        std::erase_if(links, [&](const std::string& link) { return link == entry || link == address; });
    }
    if (links.empty()) {
        return false;
    }

    std::lock_guard<std::mutex> guard(lock_);
    if (generation != generation_ || current_ >= working_.size() || working_[current_] != entry) {
        return false;  // the list was refilled or moved while we downloaded
    }
    const auto position = working_.begin() + static_cast<std::ptrdiff_t>(current_);
    working_.insert(std::next(position), std::make_move_iterator(links.begin()), std::make_move_iterator(links.end()));
    working_.erase(working_.begin() + static_cast<std::ptrdiff_t>(current_));
    if (!stream.empty()) {
        streams_.insert(stream);
    }
    ++resolutions_;
    ++generation_;
    return true;
}

std::string PlaylistResolver::hlsStream(const std::string& text, const std::string& address) const {
    const std::optional<StreamUrl> base = StreamUrl::parse(address);
    const std::optional<HlsPlaylist> playlist = base ? HlsPlaylist::parse(text, *base) : std::nullopt;
    if (!playlist) {
        return "";
    }
    if (playlist->kind == HlsPlaylist::Kind::Media) {
        return address;
    }
    std::uint64_t bandwidth = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        bandwidth = hlsBandwidth_;
    }
    const HlsPlaylist::Variant* variant = playlist->chooseVariant(bandwidth);
    return variant != nullptr ? variant->address : "";
}

void PlaylistResolver::cancelDownloads() {
    std::lock_guard<std::mutex> guard(downloadLock_);
    downloadsCancelled_ = true;
    if (downloadStop_) {
        downloadStop_->raise();
    }
}

void PlaylistResolver::allowDownloads() {
    std::lock_guard<std::mutex> guard(downloadLock_);
    downloadsCancelled_ = false;
}

std::shared_ptr<CancelSignal> PlaylistResolver::beginDownload() {
    const auto stop = std::make_shared<CancelSignal>();
    std::lock_guard<std::mutex> guard(downloadLock_);
    lastSecureFailure_ = TlsFailure::None;
    if (downloadsCancelled_) {
        return nullptr;
    }
    downloadStop_ = stop;
    return stop;
}

void PlaylistResolver::endDownload(TlsFailure secureFailure) {
    std::lock_guard<std::mutex> guard(downloadLock_);
    downloadStop_.reset();
    lastSecureFailure_ = secureFailure;
}

bool PlaylistResolver::download(std::string& address, ByteBuffer& body) {
    const std::shared_ptr<CancelSignal> stop = beginDownload();
    if (!stop) {
        return false;
    }
    std::string finalAddress;
    TlsFailure secureFailure = TlsFailure::None;
    const bool fetched = client_.fetch(address, body, stop->readFd(), &finalAddress, &secureFailure);
    if (fetched) {
        address = std::move(finalAddress);
    }
    endDownload(secureFailure);
    return fetched;
}

TlsFailure PlaylistResolver::lastSecureFailure() const {
    std::lock_guard<std::mutex> guard(downloadLock_);
    return lastSecureFailure_;
}

TlsFailure PlaylistResolver::checkCertificate(const std::string& address) {
    const std::shared_ptr<CancelSignal> stop = beginDownload();
    if (!stop) {
        return TlsFailure::None;
    }
    const TlsFailure failure = client_.checkCertificate(address, stop->readFd());
    endDownload(TlsFailure::None);
    return failure;
}

std::string PlaylistResolver::readBytes(std::string& address) {
    if (isWebAddress(address)) {
        ByteBuffer body;
        if (!download(address, body)) {
            return "";
        }
        return std::string(body.view());
    }
    // A local file, bounded like a download; only a regular file is read,
    // so a device or a pipe cannot block the player.
    std::error_code error;
    if (!std::filesystem::is_regular_file(address, error)) {
        return "";
    }
    return readWholeFile(address, client_.limits().maxBodyBytes).value_or(std::string());
}

void PlaylistResolver::rewind() {
    std::lock_guard<std::mutex> guard(lock_);
    working_ = givenList_;
    current_ = 0;
    resolutions_ = 0;
    ++generation_;
}

bool PlaylistResolver::hasNext() const {
    std::lock_guard<std::mutex> guard(lock_);
    return current_ + 1 < working_.size();
}

void PlaylistResolver::next() {
    std::lock_guard<std::mutex> guard(lock_);
    if (current_ + 1 < working_.size()) {
        ++current_;
    }
}

bool PlaylistResolver::hasPrevious() const {
    std::lock_guard<std::mutex> guard(lock_);
    return current_ > 0 && !working_.empty();
}

void PlaylistResolver::previous() {
    std::lock_guard<std::mutex> guard(lock_);
    if (current_ > 0 && !working_.empty()) {
        --current_;
    }
}

std::string PlaylistResolver::currentAddress() const {
    std::lock_guard<std::mutex> guard(lock_);
    return current_ < working_.size() ? working_[current_] : std::string();
}

std::vector<std::string> PlaylistResolver::workingList() const {
    std::lock_guard<std::mutex> guard(lock_);
    return working_;
}

}  // namespace korvanel
