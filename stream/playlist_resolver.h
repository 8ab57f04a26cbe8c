#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "settings/settings_listener.h"
#include "stream/byte_buffer.h"
#include "stream/cancel_signal.h"
#include "stream/tls_failure.h"

namespace korvanel {

class HttpClient;

// The list of sources the player walks. A playlist or page entry is replaced,
// when resolved, by the stream links found in its text; rewind() brings back
// the caller's list. An HLS playlist is a stream itself: a master playlist
// gives way to the variant "Sound/HlsBandwidth" chooses, a media playlist
// stays (at its address after redirects), and either is then opened, not
// resolved again.
//
// Threads: the window thread fills the list, the player's worker resolves
// and moves through it. Every operation is atomic under the resolver's lock,
// and resolveCurrent() does its download without the lock; when the list
// is refilled meanwhile, the result is thrown away and it returns false.
class PlaylistResolver : public SettingsListener {
public:
    // Downloads playlists and pages through client.
    explicit PlaylistResolver(HttpClient& client);

    void applySettings(SettingsStore& store) override;
    void collectSettings(SettingsStore& store) override;

    virtual void clear();
    virtual void setSources(const std::vector<std::string>& sources);
    virtual void setSource(const std::string& address);
    virtual bool isEmpty() const;
    // The playlist test on the current entry; false for an empty list and
    // for an entry found to be a stream itself (HLS, or audio under a
    // playlist's name); true for one the decoder found to be a playlist.
    virtual bool needsResolving() const;
    // The decoder found the current entry to be a playlist whatever its
    // address says: it is resolved next.
    virtual void markCurrentAsPlaylist();
    // Downloads ("http://", "https://") or reads (anything else: a local file) the current
    // entry and puts the links found in its place, the first of them current.
    // What it is comes from its bytes: the playlist's form (relative M3U and
    // XSPF entries resolve against its address after redirects), or, for
    // an ASF file under a playlist's name, audio, which stays to be opened.
    // A link to the entry itself is dropped. False, with the lists
    // unchanged, when nothing could be fetched or read, no link was found,
    // or the list has had kMaxResolutions already.
    virtual bool resolveCurrent();
    virtual void rewind();
    virtual bool hasNext() const;
    virtual void next();
    virtual bool hasPrevious() const;
    virtual void previous();
    // The caller's first entry, which names the station; "" for an empty list.
    virtual std::string firstSource() const;
    // The current entry, or "" for an empty list.
    virtual std::string currentAddress() const;

    // The list as it stands, for display and tests.
    std::vector<std::string> workingList() const;

    // A stop cuts resolveCurrent()'s download short: the one running ends
    // at once, and later ones fail until allowDownloads().
    void cancelDownloads();
    void allowDownloads();

    // Why the secure connection of the last download was refused; None
    // when it was not (or the download was not secure).
    TlsFailure lastSecureFailure() const;
    // Why an https:// address that failed to open refuses a secure
    // connection, asked of its server once; a stop ends it as it does a
    // download. None when its certificate is not the reason.
    virtual TlsFailure checkCertificate(const std::string& address);

    static constexpr const char* kHlsBandwidthKey = "Sound/HlsBandwidth";
    // Playlists resolved for one list (until it is set or rewound again):
    // nested ones resolve in turn, but a server that answers every
    // playlist with another cannot keep the player resolving.
    static constexpr int kMaxResolutions = 16;

private:
    // The bytes as read; address becomes the one that answered, after
    // redirects. Empty when nothing could be fetched or read.
    std::string readBytes(std::string& address);
    bool download(std::string& address, ByteBuffer& body);
    // The stream an HLS playlist text stands for; empty when it names none.
    std::string hlsStream(const std::string& text, const std::string& address) const;

    HttpClient& client_;
    mutable std::mutex lock_;  // guards everything below
    std::vector<std::string> givenList_;
    std::vector<std::string> working_;
    std::size_t current_ = 0;      // working_.size() when empty
    std::uint64_t generation_ = 0;  // counts refills, to spot one during a download
    int resolutions_ = 0;           // since the list was set or rewound
    std::set<std::string> streams_;     // entries known to be streams themselves
    std::set<std::string> playlists_;   // entries the decoder found to be playlists
    std::uint64_t hlsBandwidth_ = 0;    // bits per second; 0: the highest

    // The running download's stop while one runs, or a null one once they
    // are cancelled; for a download to begin under.
    std::shared_ptr<CancelSignal> beginDownload();
    void endDownload(TlsFailure secureFailure);

    mutable std::mutex downloadLock_;  // guards the three below
    bool downloadsCancelled_ = false;
    std::shared_ptr<CancelSignal> downloadStop_;  // the running download's
    TlsFailure lastSecureFailure_ = TlsFailure::None;
};

}  // namespace korvanel
