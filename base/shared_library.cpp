#include "base/shared_library.h"

#include <dlfcn.h>

namespace korvanel {

std::optional<SharedLibrary> SharedLibrary::open(const std::string& name) {
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        return std::nullopt;
    }
    return SharedLibrary(handle);
}

void* SharedLibrary::find(const char* name) const { return ::dlsym(handle_.get(), name); }

void SharedLibrary::Close::operator()(void* handle) const { ::dlclose(handle); }

}  // namespace korvanel
