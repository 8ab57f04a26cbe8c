#pragma once

#include "stream/unique_fd.h"

namespace korvanel {

// A one-way switch that socket waits can poll beside their socket: once
// raised, readFd() stays readable, so every current and later wait ends.
// raise() and the waits may run on any thread.
class CancelSignal {
public:
    CancelSignal();

    void raise();
    bool raised() const;
    // -1 when the pipe could not be made; waits then rely on their time-outs.
    int readFd() const { return readEnd_.get(); }

private:
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
};

}  // namespace korvanel
