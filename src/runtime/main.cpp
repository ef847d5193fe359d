// Quillet: opens the display, loads everything behind the loading screen, then plays the track and
// runs the beat timeline until the track ends or the viewer leaves (Escape, the close button,
// SIGINT or SIGTERM).
#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "gfx/display.h"
#include "gfx/simd.h"
#include "runtime/clock.h"
#include "runtime/loading.h"
#include "runtime/music.h"
#include "runtime/pacing.h"
#include "runtime/show.h"

enum { KEY_ESCAPE = 27 };

// Intervals of the live show's frames, printed at the end when QUILLET_STATS=1.
static PacingStats main_pacing_stats;

// Drains the event queue; 1 when the window was closed or the process was asked to end. An Escape
// press counts too: a tap shorter than one paced frame would not show in the key state.
static int main_quit_requested(void) {
    SDL_Event event;
    int quit = 0;
    while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_ALLEVENTS) > 0)
        if (event.type == SDL_QUIT || (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE))
            quit = 1;
    return quit;
}

// Plays frames while the track plays, until Escape or a quit; each frame's clock comes from the
// music position. Frames are paced where the display does not wait for its vertical blank.
static void main_play(void) {
    FramePacer pacer;
    pacing_start(&pacer, pacing_settings.fps_cap, pacing_settings.stats ? &main_pacing_stats : nullptr);
    while (music_is_playing()) {
        SDL_PumpEvents();
        const Uint8* keys = SDL_GetKeyState(nullptr);
        if (keys[KEY_ESCAPE] || main_quit_requested()) break;
        music_sync_clock();
        show_draw_frame();
        pacing_present(&pacer);
    }
    if (pacing_settings.stats) {
        char line[160];
        pacing_stats_format(&main_pacing_stats, line, sizeof line);
        printf("%s\n", line);
        fflush(stdout);
    }
}

int main(void) {
    if (simd_init_from_env("quillet", stderr) != 0) return 2;
    if (pacing_read_env("quillet", stderr) != 0) return 2;
    if (display_open(1) != 0) return 1;
    clock_reset();
    atexit(display_close);
    clock_tick();

    loading_active = 1;
    SDL_Thread* loading_thread = SDL_CreateThread(loading_thread_main, nullptr);
    if (!loading_thread) exit(1);

    if (parts_init_all() != 0 || music_open(SHOW_MUSIC_FILE, SHOW_BPM, 0.0f) != 0) {
        loading_active = 0;
        SDL_WaitThread(loading_thread, nullptr);
        exit(1);
    }
    loading_active = 0;
    SDL_WaitThread(loading_thread, nullptr);
    loading_thread = nullptr;

    SDL_Delay(500);
    music_play();

    main_play();
    if (!music_is_playing()) SDL_Delay(4000);
    parts_free_all();
    music_close();
    exit(0);
}
