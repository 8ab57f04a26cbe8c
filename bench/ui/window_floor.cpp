// A yardstick for the desktop comparison's memory column: the least a
// player built as ours can hold. It shows one small Qt widgets window, loads
// the libraries our audio engine loads (FFmpeg's decoding half and SDL, with
// its audio started on whatever SDL_AUDIODRIVER says) and then only waits,
// with no station, stream, buffer or meter of its own, until it is ended.
// With --qt-only it loads no audio library: what Qt's window alone holds.
extern "C" {
#include <libavcodec/version_major.h>
#include <libavformat/version_major.h>
#include <libavutil/version.h>
#include <libswresample/version_major.h>
}

#include <dlfcn.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool load(const std::string& name) {
    if (::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) != nullptr) {
        return true;
    }
    std::fprintf(stderr, "window_floor: cannot load %s\n", name.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const bool qtOnly = argc > 1 && std::strcmp(argv[1], "--qt-only") == 0;
    QApplication qt(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Window floor"));
    QHBoxLayout layout(&window);
    QLabel label(QStringLiteral("Station"));
    QPushButton play(QStringLiteral("Play"));
    layout.addWidget(&label);
    layout.addWidget(&play);
    window.show();
    if (qtOnly) {
        return QApplication::exec();
    }

    const std::string major = ".so.";
    if (!load("libavutil" + major + std::to_string(LIBAVUTIL_VERSION_MAJOR)) ||
        !load("libswresample" + major + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR)) ||
        !load("libavcodec" + major + std::to_string(LIBAVCODEC_VERSION_MAJOR)) ||
        !load("libavformat" + major + std::to_string(LIBAVFORMAT_VERSION_MAJOR))) {
        return 1;
    }
    void* sdl = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    using Init = int (*)(unsigned);
    const auto init = sdl != nullptr ? reinterpret_cast<Init>(::dlsym(sdl, "SDL_Init")) : nullptr;
    constexpr unsigned kSdlInitAudio = 0x10;
    if (init == nullptr || init(kSdlInitAudio) != 0) {
        std::fprintf(stderr, "window_floor: SDL's audio did not start\n");
        return 1;
    }
    return QApplication::exec();
}
