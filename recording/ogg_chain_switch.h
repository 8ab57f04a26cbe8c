#pragma once

#include <cstddef>

namespace korvanel {

// When the recording of a chained Ogg stream moves to its next file. The
// Ogg writer ends a file with its logical stream; the next file waits for
// the next stream's comments (its title), so that the new title's start is
// not filed under the old one, while the writer keeps its pages. Should no
// title come before the writer would have to drop some of them, or should
// the writer keep nothing at all, the next file opens under the old name.
// Not thread-safe: the recorder's worker owns it.
class OggChainSwitch {
public:
    // The writer ended its file with the logical stream while recording.
    // True when the next file must open at once (bufferLimit is the writer's
    // memory limit: nothing is kept meanwhile).
    bool streamEnded(std::size_t bufferLimit);
    // More stream bytes went to the writer while waiting; true when the
    // wait is over and the next file must open under the old name.
    bool tookBytes(std::size_t bytes, std::size_t bufferLimit);
    bool awaitingTitle() const { return awaiting_; }
    // A title came, the switch turned, or capturing stopped.
    void endWait() { awaiting_ = false; }

private:
    bool awaiting_ = false;
    std::size_t bytesWhileAwaiting_ = 0;
};

}  // namespace korvanel
