#include "recording/lame_library.h"

#include <dlfcn.h>

namespace korvanel {
namespace {

// Looks a symbol up as a function pointer of the member's type.
template <class Function>
bool resolve(void* handle, const char* name, Function& function) {
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr) {
        return false;
    }
    // The one cast dlsym needs: POSIX guarantees data and function pointers
    // convert both ways.
    function = reinterpret_cast<Function>(symbol);
    return true;
}

}  // namespace

std::unique_ptr<LameLibrary> LameLibrary::load(const std::string& name) {
    Handle library(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library) {
        return nullptr;
    }
    void* handle = library.get();
    Functions f{};
    const bool complete =
        resolve(handle, "lame_init", f.init) && resolve(handle, "lame_set_in_samplerate", f.setInSampleRate) &&
        resolve(handle, "lame_set_out_samplerate", f.setOutSampleRate) &&
        resolve(handle, "lame_set_num_channels", f.setNumChannels) && resolve(handle, "lame_set_mode", f.setMode) &&
        resolve(handle, "lame_set_brate", f.setBitrate) && resolve(handle, "lame_set_quality", f.setQuality) &&
        resolve(handle, "lame_set_original", f.setOriginal) && resolve(handle, "lame_set_copyright", f.setCopyright) &&
        resolve(handle, "lame_set_error_protection", f.setErrorProtection) &&
        resolve(handle, "lame_set_extension", f.setExtension) && resolve(handle, "lame_set_emphasis", f.setEmphasis) &&
        resolve(handle, "lame_set_disable_reservoir", f.setDisableReservoir) &&
        resolve(handle, "lame_set_strict_ISO", f.setStrictIso) && resolve(handle, "lame_set_VBR", f.setVbr) &&
        resolve(handle, "lame_set_bWriteVbrTag", f.setWriteVbrTag) &&
        resolve(handle, "lame_init_params", f.initParams) && resolve(handle, "lame_encode_buffer", f.encodeBuffer) &&
        resolve(handle, "lame_encode_buffer_interleaved", f.encodeBufferInterleaved) &&
        resolve(handle, "lame_encode_flush", f.encodeFlush) && resolve(handle, "lame_close", f.close);
    if (!complete) {
        return nullptr;
    }
    return std::make_unique<LameLibrary>(Key{}, std::move(library), f);
}

void LameLibrary::CloseLibrary::operator()(void* handle) const {
    ::dlclose(handle);
}

}  // namespace korvanel
