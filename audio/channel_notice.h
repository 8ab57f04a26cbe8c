#pragma once

namespace korvanel {

// What the output channel and the metadata parser tell the player.
enum class ChannelNotice {
    StreamEnded,  // the output ran out of data
    Stalled,      // waiting for data
    Resumed,      // data flows again
    InfoParsed,   // station name, title or bitrate set
};

// Where they tell it. Called on the library's threads, never waiting: the
// player only queues the notice for its worker.
class ChannelNotices {
public:
    virtual void notify(ChannelNotice notice) = 0;

protected:
    ~ChannelNotices() = default;
};

}  // namespace korvanel
