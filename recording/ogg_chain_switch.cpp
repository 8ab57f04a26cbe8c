#include "recording/ogg_chain_switch.h"

namespace korvanel {

bool OggChainSwitch::streamEnded(std::size_t bufferLimit) {
    if (bufferLimit == 0) {
        awaiting_ = false;
        return true;
    }
    awaiting_ = true;
    bytesWhileAwaiting_ = 0;
    return false;
}

bool OggChainSwitch::tookBytes(std::size_t bytes, std::size_t bufferLimit) {
    if (!awaiting_) {
        return false;
    }
    bytesWhileAwaiting_ += bytes;
    // Half the limit: the pages kept are well inside what the writer holds.
    if (bytesWhileAwaiting_ > bufferLimit / 2) {
        awaiting_ = false;
        return true;
    }
    return false;
}

}  // namespace korvanel
