#include "audio/audio_library.h"

namespace korvanel {

const char* audioErrorText(AudioError code) {
    switch (code) {
        case AudioError::Memory: return "Memory error";
        case AudioError::FileOpen: return "Can't open the file";
        case AudioError::Driver: return "Can't find a free/valid driver";
        case AudioError::BufferLost: return "The sample buffer was lost";
        case AudioError::Handle: return "Invalid handle";
        case AudioError::Format: return "Unsupported sample format";
        case AudioError::Position: return "Invalid playback position";
        case AudioError::Init: return "The device has not been initialised";
        case AudioError::Start: return "The output has not been started";
        case AudioError::Already: return "Already initialized/paused/whatever";
        case AudioError::NotPaused: return "Not paused";
        case AudioError::NoChannel: return "Can't get a free channel";
        case AudioError::IllegalType: return "An illegal type was specified";
        case AudioError::IllegalParameter: return "An illegal parameter was specified";
        case AudioError::No3d: return "No 3D support";
        case AudioError::NoEax: return "No EAX support";
        case AudioError::Device: return "Illegal device number";
        case AudioError::NotPlaying: return "Not playing";
        case AudioError::Frequency: return "Illegal sample rate";
        case AudioError::NotFile: return "The stream is not a file stream";
        case AudioError::NoHardware: return "No hardware voices available";
        case AudioError::Empty: return "The MOD music has no sequence data";
        case AudioError::NoInternet: return "No internet connection could be opened";
        case AudioError::Create: return "Couldn't create the file";
        case AudioError::NoEffects: return "Effects are not available";
        case AudioError::Playing: return "The channel is playing";
        case AudioError::NotAvailable: return "Requested data is not available";
        case AudioError::Decode: return "The channel is a \"decoding channel\"";
        case AudioError::DirectX: return "A sufficient DirectX version is not installed";
        case AudioError::Timeout: return "Connection timeout";
        case AudioError::FileFormat: return "Unsupported file format";
        case AudioError::Speaker: return "Unavailable speaker";
        case AudioError::Unknown: return "Some other mystery error";
        case AudioError::Ok: break;
    }
    return "No error";
}

}  // namespace korvanel
