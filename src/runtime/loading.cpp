// Until the animated title lands, the loading screen is black frames shown while loading lasts.
#include "runtime/loading.h"

#include <SDL.h>

#include "gfx/display.h"

std::atomic<int> loading_active{0};

int loading_thread_main(void*) {
    while (loading_active.load()) {
        frame_begin();
        frame_clear(0xFF000000);
        frame_present();
        SDL_Delay(10);
    }
    return 0;
}
