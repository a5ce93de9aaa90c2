#include "Bell.h"

#include <QApplication>

#include <cstdint>
#include <dlfcn.h>

namespace {

// The two calls of libcanberra's C interface the bell needs.
using CreateContext = int (*)(void** context);
using PlayEvent = int (*)(void* context, std::uint32_t id, ...);

struct SoundTheme {
    void* Context = nullptr;
    PlayEvent Play = nullptr;
};

// Loaded once, on the first beep; nothing when the library is missing.
const SoundTheme& LoadSoundTheme() {
    static const SoundTheme theme = [] {
        SoundTheme loaded;
        void* library = dlopen("libcanberra.so.0", RTLD_LAZY | RTLD_LOCAL);
        if (library == nullptr) {
            return loaded;
        }
        const auto create = reinterpret_cast<CreateContext>(dlsym(library, "ca_context_create"));
        const auto play = reinterpret_cast<PlayEvent>(dlsym(library, "ca_context_play"));
        if (create != nullptr && play != nullptr && create(&loaded.Context) == 0 &&
            loaded.Context != nullptr) {
            loaded.Play = play;
        } else {
            loaded.Context = nullptr;
        }
        // The library stays loaded for the process's life: the context lives
        // in it.
        return loaded;
    }();
    return theme;
}

} // namespace

void SystemBeep() {
    if (QGuiApplication::platformName() != "wayland") {
        QApplication::beep();
        return;
    }
    const SoundTheme& theme = LoadSoundTheme();
    if (theme.Play != nullptr) {
        // The outcome is not ours to report: no sound server, no theme and
        // no device all mean a silent beep.
        theme.Play(theme.Context, 0, "event.id", "bell", "event.description", "Pruvex: unknown key",
                   static_cast<const char*>(nullptr));
    }
}
