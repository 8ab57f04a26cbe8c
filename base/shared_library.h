#pragma once

#include <memory>
#include <optional>
#include <string>

namespace korvanel {

// A shared library loaded at run time, so the program starts without paying
// for it and runs (with less) where it is missing. Every symbol is bound when
// it opens; once loaded it stays mapped for the life of the process, since a
// codec or sound library may leave threads and handlers behind, and loading
// it again would cost its start-up once more.
class SharedLibrary {
public:
    // The library by file name (a soname such as "libSDL2-2.0.so.0"), or
    // nothing when it cannot be loaded.
    static std::optional<SharedLibrary> open(const std::string& name);

    // Looks `name` up as a function of `function`'s type: false when missing.
    template <class Function>
    bool resolve(const char* name, Function& function) const {
        void* symbol = find(name);
        if (symbol == nullptr) {
            return false;
        }
        // The one cast dlsym needs: POSIX guarantees data and function
        // pointers convert both ways.
        function = reinterpret_cast<Function>(symbol);
        return true;
    }

private:
    struct Close {
        void operator()(void* handle) const;
    };
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* find(const char* name) const;

    std::unique_ptr<void, Close> handle_;
};

}  // namespace korvanel
