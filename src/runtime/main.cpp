// Quillet: opens the display, loads everything behind the loading screen, then plays the track and
// runs the beat timeline until the track ends or the viewer leaves (Escape, the close button,
// SIGINT or SIGTERM).
#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "gfx/display.h"
#include "gfx/simd.h"
#include "gfx/draw_queue.h"
#include "runtime/clock.h"
#include "runtime/loading.h"
#include "runtime/music.h"
#include "runtime/pacing.h"
#include "runtime/show.h"

#if __EMSCRIPTEN__
#include <emscripten.h>

#include <chrono>

#include "procedural/noise.h"
#include "render/render.h"

// The browser's SDL has it but does not declare it.
extern "C" Uint8* SDL_GetKeyState(int* numkeys);
#endif

enum { KEY_ESCAPE = 27 };

// Intervals of the live show's frames, printed at the end when QUILLET_STATS=1.
static PacingStats main_pacing_stats;

// Drains the event queue; 1 when the window was closed or the process was asked to end. An Escape
// press counts too: a tap shorter than one paced frame would not show in the key state.
static int main_quit_requested(void) {
    SDL_Event event;
    int quit = 0;
#if __EMSCRIPTEN__
    while (SDL_PollEvent(&event))
#else
    while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_ALLEVENTS) > 0)
#endif
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

#if __EMSCRIPTEN__
// The page's digest and bench modes: the offline renderer with the arguments the page passes.
static int main_run_offline(int argc, char** argv) {
    RenderOptions options;
    if (render_parse_args(argc, argv, &options, stdout) != 0) return 2;
    switch (options.mode) {
    case RENDER_TOOL_BENCH: return render_bench(&options, stdout);
    case RENDER_TOOL_DIGEST: return render_digest(&options, stdout);
    default:
        printf("quillet: the page offers only the digest and bench modes\n");
        return 2;
    }
}

// exit() from a main that has yielded to the page throws past it; the page is told instead, and the
// display closed as exit would.
static int main_exit(int status) {
    display_close();
    EM_ASM({ if (Module.onExit) Module.onExit($0); }, status);
    return status;
}

// The show's clock as the page reads it (its tests compare it with the audio context's clock).
extern "C" EMSCRIPTEN_KEEPALIVE double main_web_clock_seconds(void) { return demo_clock.clock_seconds; }

// The page has no second thread: the loading screen shows a frame between the part table's rows
// (frame_present hands each one to the page). Rows are built and unwound as parts_init_all does.
static int main_init_parts_stepped(void) {
    auto start = std::chrono::steady_clock::now();
    auto frame_now = [&] {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        return (int)(ms.count() * 60 / 1000);  // the animation runs at 60 frames a second
    };
    int screen = loading_screen_open();
    noise_init(0);
    int failed = 0;
    for (int row = 0; row < PART_COUNT && !failed; row++) {
        if (parts_init_table(part_table + row, 1) != 0) {
            parts_free_table(part_table, row);
            failed = 1;
        }
        if (screen == 0) loading_screen_frame(frame_now());
    }
    if (!failed && music_open(SHOW_MUSIC_FILE, SHOW_BPM, 0.0f) != 0) failed = 1;
    loading_screen_close();
    return failed;
}
#else
static int main_exit(int status) { exit(status); }
#endif

int main(int argc, char** argv) {
#if __EMSCRIPTEN__
    if (argc > 1) return main_run_offline(argc, argv);
#else
    (void)argc;
    (void)argv;
#endif
    if (simd_init_from_env("quillet", stderr) != 0) return 2;
    if (pacing_read_env("quillet", stderr) != 0) return 2;
    int drawing_threads = 1;
    if (draw_threads_from_env("quillet", stderr, &drawing_threads) != 0) return 2;
    if (display_open(1) != 0) return main_exit(1);
    clock_reset();
    atexit(display_close);
    clock_tick();

    loading_active = 1;
#if __EMSCRIPTEN__
    if (main_init_parts_stepped() != 0) return main_exit(1);
    loading_active = 0;
#else
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
    draw_queue_start(drawing_threads);  // on failure the frames are drawn on this thread alone
#endif

    SDL_Delay(500);
    music_play();

    main_play();
    if (!music_is_playing()) SDL_Delay(4000);
    draw_queue_stop();
    parts_free_all();
    music_close();
    return main_exit(0);
}
