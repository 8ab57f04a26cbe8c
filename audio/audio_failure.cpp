#include "audio/audio_failure.h"

namespace korvanel {

const char* audioErrorText(AudioError code) {
    switch (code) {
        case AudioError::Memory: return "Memory error";
        case AudioError::FileOpen: return "Can't open the file";
        case AudioError::Driver: return "Can't find a free/valid driver";
        case AudioError::Handle: return "Invalid handle";
        case AudioError::Init: return "The device has not been initialised";
        case AudioError::Start: return "The output has not been started";
        case AudioError::Already: return "Already initialized/paused/whatever";
        case AudioError::IllegalType: return "An illegal type was specified";
        case AudioError::IllegalParameter: return "An illegal parameter was specified";
        case AudioError::Device: return "Illegal device number";
        case AudioError::NotPlaying: return "Not playing";
        case AudioError::Frequency: return "Illegal sample rate";
        case AudioError::NotAvailable: return "Requested data is not available";
        case AudioError::Decode: return "The channel is a \"decoding channel\"";
        case AudioError::Timeout: return "Connection timeout";
        case AudioError::FileFormat: return "Unsupported file format";
        case AudioError::Playlist: return "The address holds a playlist";
        case AudioError::Unknown: return "Some other mystery error";
        case AudioError::Ok: break;
    }
    return "No error";
}

}  // namespace korvanel
