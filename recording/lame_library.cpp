#include "recording/lame_library.h"

namespace korvanel {

std::unique_ptr<LameLibrary> LameLibrary::load(const std::string& name) {
    std::optional<SharedLibrary> library = SharedLibrary::open(name);
    if (!library) {
        return nullptr;
    }
    const SharedLibrary& l = *library;
    Functions f{};
    const bool complete =
        l.resolve("lame_init", f.init) && l.resolve("lame_set_in_samplerate", f.setInSampleRate) &&
        l.resolve("lame_set_out_samplerate", f.setOutSampleRate) &&
        l.resolve("lame_set_num_channels", f.setNumChannels) && l.resolve("lame_set_mode", f.setMode) &&
        l.resolve("lame_set_brate", f.setBitrate) && l.resolve("lame_set_quality", f.setQuality) &&
        l.resolve("lame_set_original", f.setOriginal) && l.resolve("lame_set_copyright", f.setCopyright) &&
        l.resolve("lame_set_error_protection", f.setErrorProtection) &&
        l.resolve("lame_set_extension", f.setExtension) && l.resolve("lame_set_emphasis", f.setEmphasis) &&
        l.resolve("lame_set_disable_reservoir", f.setDisableReservoir) &&
        l.resolve("lame_set_strict_ISO", f.setStrictIso) && l.resolve("lame_set_VBR", f.setVbr) &&
        l.resolve("lame_set_bWriteVbrTag", f.setWriteVbrTag) &&
        l.resolve("lame_init_params", f.initParams) && l.resolve("lame_encode_buffer", f.encodeBuffer) &&
        l.resolve("lame_encode_buffer_interleaved", f.encodeBufferInterleaved) &&
        l.resolve("lame_encode_flush", f.encodeFlush) && l.resolve("lame_close", f.close);
    if (!complete) {
        return nullptr;
    }
    return std::make_unique<LameLibrary>(Key{}, std::move(*library), f);
}

}  // namespace korvanel
