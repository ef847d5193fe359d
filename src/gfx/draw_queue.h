// Drawing on several threads. Callers keep the single-threaded view: every drawing call is made
// from the main thread, in order, and reads the program-wide state of that moment. Behind the
// drawing entries the calls are recorded in order into a command list; drawing threads each replay
// the whole list, each clipped to its own interleaved horizontal bands of the screen. Every row a
// thread draws gets exactly the values a whole-screen pass gives it, so the frame is the same at any
// thread count. With one thread nothing is recorded and the entries draw at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "gfx/display.h"

// The rows one drawing thread owns: bands of `rows` rows, band b belonging to worker b % count.
struct DrawBand {
    uint8_t owns[SCREEN_HEIGHT];      // 1 for this worker's rows
    int16_t next[SCREEN_HEIGHT + 1];  // first owned row at or below y (SCREEN_HEIGHT when none)
};

// The calling thread's band; null (the default, and the only value with one thread) owns every row.
extern constinit thread_local const DrawBand* draw_band;

void draw_band_make(DrawBand* band, int index, int count, int rows);
// The split the drawing threads use: the screen is cut into `cycles` equal stretches of rows; in
// each, thread 0 (the main thread) owns the first `first_rows` rows and the other count - 1 threads
// share the rest in equal runs, in order. first_rows is clamped to the stretch.
void draw_band_split(DrawBand* band, int index, int count, int cycles, int first_rows);
// Whether the band owns any of the screen rows min_y..max_y; always true with no band.
static inline bool draw_band_touches(const DrawBand* band, int min_y, int max_y) {
    return !band || band->next[min_y] <= max_y;
}
static inline bool draw_band_owns(const DrawBand* band, int y) { return !band || band->owns[y]; }
// The first run of owned rows at or after row y and before `limit` (at most SCREEN_HEIGHT): its first
// row, with *end one past its last; limit when there is none.
static inline int draw_band_next_run(const DrawBand* band, int y, int limit, int* end) {
    if (band) y = band->next[y] < limit ? band->next[y] : limit;
    int e = y < limit ? y + 1 : limit;
    while (e < limit && draw_band_owns(band, e)) e++;
    *end = e;
    return y;
}

// Replays one recorded call on a drawing thread, within that thread's draw_band.
typedef void (*DrawReplay)(const void* payload);

enum { DRAW_THREADS_MAX = 64, DRAW_COMMAND_MAX = 64 * 1024 };

// The drawing thread count from QUILLET_THREADS (1 to 64; unset or empty: the processors online,
// up to 64, and 1 where there are two or fewer).
// 0 ok; 2 when the value is not such a number, after one line on err that starts with `program`.
int draw_threads_from_env(const char* program, FILE* err, int* threads);

// Starts drawing on `threads` threads (2 to 64): the main thread, which draws its own bands at every
// flush, and threads - 1 helpers that draw theirs as calls are recorded. 1 or less leaves drawing
// direct. Also reads
// QUILLET_THREADS_CHECK: at 1 every call is drawn completely before the next is recorded. Call from
// the main thread once loading is done. 0 ok, 1 when the threads or their memory could not be had
// (drawing then stays direct).
int draw_queue_start(int threads);
// Draws what is recorded and ends the drawing threads; safe when none run.
void draw_queue_stop(void);

// 1 while drawing threads replay the recorded calls: the drawing entries then record instead of
// drawing. Main thread only.
extern int draw_queue_active;

// Room for one call's payload (size at most DRAW_COMMAND_MAX, 16-byte aligned), replayed by every
// drawing thread once the caller has filled it. Null when size is too large or no memory is left.
void* draw_queue_push(DrawReplay replay, size_t size);

// Records a call with a copy of its payload while drawing threads run; otherwise runs it at once
// on the calling thread (replay(payload), with every row owned).
void draw_queue_call(DrawReplay replay, const void* payload, size_t size);

// Waits until every recorded call is drawn. Needed before anything reads pixels that another
// thread's band may write, or reads the buffers from outside the drawing entries:
//   - the shadow-tested modes after a shadow pass (they read depth_buffer2 at projected positions)
//     and a shadow pass or a reset of depth_buffer2 after them,
//   - the mosaic (block samples from other rows) and scene code reading the framebuffer or the
//     depth buffers directly,
//   - frame_present and the end of every frame (whoever looks at the picture),
//   - draw_queue_stop.
void draw_queue_flush(void);

// Recorded accesses since the last flush that some later calls must wait for.
enum {
    DRAW_PENDING_SHADOW_WRITE = 1,  // the shadow depth pass or a fill of depth_buffer2
    DRAW_PENDING_SHADOW_READ = 2,   // the shadow-tested modes
};
void draw_queue_note(uint32_t pending);
// Flushes when any of `pending` was noted since the last flush.
void draw_queue_flush_if(uint32_t pending);

// A held full-screen pass. A frame starts with full-screen passes that the next one may overwrite
// wholly (the grey clear under a background picture) or take as its destination (a picture blended
// over the background in the same pass). One such pass, whose only effect is on the screen's
// pixels, may be held back instead of drawn; any other drawing draws it first (draw_queue_call,
// draw_queue_push and draw_queue_flush settle it, and so do the rasterizer's entries), so nothing can
// tell it was held. Main thread only. A pass held while another is held settles the other first.
enum { DRAW_HELD_MAX = 64 };
void draw_queue_hold(DrawReplay replay, const void* payload, size_t size);  // size <= DRAW_HELD_MAX
// The payload of the held pass when `replay` is its replay function, else null.
const void* draw_queue_held(DrawReplay replay);
// Forgets the held pass, for a caller that draws over every pixel it would have written or draws
// it itself.
void draw_queue_drop_held(void);
// Draws the held pass now (or records it while drawing threads run); nothing when none is held.
extern DrawReplay draw_queue_held_replay;
void draw_queue_settle_held(void);
static inline void draw_queue_settle(void) {
    if (draw_queue_held_replay) draw_queue_settle_held();
}

// For tests: while held, the helpers claim nothing, as if the machine never ran them; the main
// thread then draws their rows at each flush. Any thread may call it.
void draw_queue_hold_helpers(bool hold);
// How many times a flush found helpers' rows unclaimed and drew them on the main thread.
uint64_t draw_queue_taken_over(void);
