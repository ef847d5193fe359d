// Drawing bands and the recorded drawing calls replayed by the drawing threads.
//
// The command list is a chain of 1 MiB blocks, kept from frame to frame. The main thread appends
// commands and publishes them in small batches (a release store of the count). Each helper's rows
// come in a few stretches of the screen; the helper claims its stretches (an atomic claim on each),
// replays the next published commands for them in order and lets them go with the count done. The
// main thread is a drawing thread too: at a flush it publishes the rest, replays the list within
// its own bands, then claims and draws whatever stretches the helpers have not come to, and waits
// only for the ones a helper holds; then the list starts again at its first block. Helpers sleep
// on the published count while there is nothing to draw.
#include "gfx/draw_queue.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

constinit thread_local const DrawBand* draw_band = nullptr;
int draw_queue_active = 0;

static void draw_band_link(DrawBand* band) {
    band->next[SCREEN_HEIGHT] = SCREEN_HEIGHT;
    for (int y = SCREEN_HEIGHT - 1; y >= 0; y--)
        band->next[y] = band->owns[y] ? (int16_t)y : band->next[y + 1];
}

void draw_band_make(DrawBand* band, int index, int count, int rows) {
    if (count < 1) count = 1;
    if (rows < 1) rows = 1;
    for (int y = 0; y < SCREEN_HEIGHT; y++) band->owns[y] = (y / rows) % count == index;
    draw_band_link(band);
}

void draw_band_split(DrawBand* band, int index, int count, int cycles, int first_rows) {
    if (count < 1) count = 1;
    if (cycles < 1) cycles = 1;
    if (cycles > SCREEN_HEIGHT) cycles = SCREEN_HEIGHT;
    for (int c = 0; c < cycles; c++) {
        int top = SCREEN_HEIGHT * c / cycles, height = SCREEN_HEIGHT * (c + 1) / cycles - top;
        int first = first_rows < 0 ? 0 : first_rows > height ? height : first_rows;
        if (count == 1) first = height;
        for (int r = 0; r < height; r++) {
            // Row r of the stretch: thread 0's, or one of the equal runs of the others.
            int owner = r < first ? 0 : 1 + (int)((int64_t)(r - first) * (count - 1) / (height - first));
            band->owns[top + r] = owner == index;
        }
    }
    draw_band_link(band);
}

int draw_threads_from_env(const char* program, FILE* err, int* threads) {
    const char* text = getenv("QUILLET_THREADS");
    if (!text || !*text) {
        // One per processor: two draw the show 1.5 times as fast as one on an idle 2-processor
        // machine. Where other programs keep every processor busy, QUILLET_THREADS=1 is faster.
        unsigned n = std::thread::hardware_concurrency();
        *threads = n < 1 ? 1 : n > DRAW_THREADS_MAX ? DRAW_THREADS_MAX : (int)n;
        return 0;
    }
    char* end = nullptr;
    long n = text[0] >= '0' && text[0] <= '9' ? strtol(text, &end, 10) : 0;
    if (!end || *end != 0 || n < 1 || n > DRAW_THREADS_MAX) {
        fprintf(err, "%s: QUILLET_THREADS must be a whole number from 1 to %d, not '%.64s'\n", program,
                DRAW_THREADS_MAX, text);
        return 2;
    }
    *threads = (int)n;
    return 0;
}

enum {
    DRAW_BLOCK_BYTES = 1 << 20,
    DRAW_BLOCKS_AT_START = 3,  // what the show's busiest frames record, made at start
    // Every thread's rows come back in this many stretches of the screen: enough to share an object
    // that fills part of it, few enough that most triangles are set up by one thread only.
    DRAW_BAND_CYCLES = 4,
    DRAW_PUBLISH_EVERY = 64,  // commands per wake-up of the drawing threads
    // Commands a helper claims at a time: what a helper descheduled in the middle of them can make
    // the flush wait for.
    DRAW_CLAIM_MOST = 128,
};

struct DrawBlock {
    DrawBlock* next;
    alignas(16) unsigned char bytes[DRAW_BLOCK_BYTES];
};

// A command: its replay function and its length in bytes, header included (a multiple of 16);
// the payload follows the header. A header with no function sends the reader to the next block.
struct alignas(16) DrawCommand {
    DrawReplay replay;
    uint32_t bytes;
};

// A helper's rows within one stretch of the screen. Whoever claims it first (the helper as calls
// are published, or the main thread at a flush when the helper has not come to it) replays the
// commands it has not had yet; the rows are drawn in command order whoever draws them.
static const uint64_t DRAW_CLAIMED = (uint64_t)1 << 32;
struct alignas(64) DrawStretch {
    // Commands replayed for these rows (modulo 2^32), with DRAW_CLAIMED while a thread replays more.
    std::atomic<uint64_t> state{0};
    // The reader's place after those commands, and the rows: used by the claiming thread only, and
    // changed by the main thread only at a flush, when no stretch is claimed or behind.
    DrawBlock* block = nullptr;
    size_t offset = 0;
    int top = 0, bottom = 0;  // the stretch's rows, top..bottom - 1
    DrawBand band;
};

struct DrawWorker {
    DrawStretch* stretches;  // DRAW_BAND_CYCLES of them
    std::thread thread;
};

static DrawBlock* queue_first;      // the chain, kept from frame to frame
static DrawBlock* queue_block;      // where the main thread writes
static size_t queue_offset;
static uint32_t queue_written;      // commands recorded (main thread)
static uint32_t queue_flushed;      // commands known drawn by every thread
static uint32_t queue_pending;        // DRAW_PENDING_* since the last flush
static int queue_check;             // QUILLET_THREADS_CHECK=1
static uint64_t queue_taken;        // helpers' stretches the main thread drew at a flush
static std::atomic<uint32_t> queue_published{0};
static std::atomic<uint32_t> queue_signal{0};  // changes on every publication and at stop
static std::atomic<bool> queue_stopping{false};
static std::atomic<bool> queue_held{false};    // helpers claim nothing (tests)
static DrawWorker* queue_workers;  // the helpers: one fewer than the drawing threads
static DrawStretch* queue_stretches;
static int queue_worker_count;
static DrawBand queue_main_band;  // the main thread's rows, drawn at a flush
static DrawBand queue_taken_band;  // the rows of helpers' stretches it draws then
// Rows of each stretch that the main thread draws. It also runs the callers' own code, so it takes
// fewer than an equal share when the helpers finish first, and gives them back when it waits.
static int queue_main_rows;
static int queue_main_rows_max;

// Whether `count` commands come before `until` (both counted modulo 2^32).
static inline bool draw_behind(uint32_t count, uint32_t until) { return (int32_t)(until - count) > 0; }

// Replays commands from the reader's place until `seen` reaches `until`, within the calling
// thread's draw_band.
static void draw_replay(DrawBlock** block, size_t* offset, uint32_t* seen, uint32_t until) {
    while (*seen != until) {
        const DrawCommand* c = (const DrawCommand*)((*block)->bytes + *offset);
        if (!c->replay) {
            *block = (*block)->next;
            *offset = 0;
            continue;
        }
        c->replay(c + 1);
        *offset += c->bytes;
        ++*seen;
    }
}

// Claims one helper's stretches that nobody holds and that are behind `until`, as many as stand at
// the same command as the first one claimed, then replays at most `most` commands for all of them
// at once (one set-up per triangle for their rows together) and lets them go. `band` is the
// caller's room for their rows. False when there was nothing to claim.
static bool draw_claim_and_replay(DrawStretch* stretches, uint32_t until, uint32_t most, DrawBand* band) {
    unsigned mask = 0;
    uint32_t from = 0;
    for (int c = 0; c < DRAW_BAND_CYCLES; c++) {
        uint64_t s = stretches[c].state.load(std::memory_order_relaxed);
        if ((s & DRAW_CLAIMED) || !draw_behind((uint32_t)s, until) || (mask && (uint32_t)s != from)) continue;
        if (!stretches[c].state.compare_exchange_strong(s, s | DRAW_CLAIMED, std::memory_order_acquire,
                                                        std::memory_order_relaxed))
            continue;
        mask |= 1u << c;
        from = (uint32_t)s;
    }
    if (!mask) return false;
    if (until - from > most) until = from + most;
    memset(band->owns, 0, sizeof band->owns);
    DrawStretch* first = nullptr;
    for (int c = 0; c < DRAW_BAND_CYCLES; c++) {
        if (!(mask >> c & 1)) continue;
        DrawStretch* s = &stretches[c];
        if (!first) first = s;
        memcpy(band->owns + s->top, s->band.owns + s->top, (size_t)(s->bottom - s->top));
    }
    draw_band_link(band);
    DrawBlock* block = first->block;
    size_t offset = first->offset;
    uint32_t seen = from;
    const DrawBand* outer = draw_band;
    draw_band = band;
    draw_replay(&block, &offset, &seen, until);
    draw_band = outer;
    for (int c = 0; c < DRAW_BAND_CYCLES; c++) {
        if (!(mask >> c & 1)) continue;
        DrawStretch* s = &stretches[c];
        s->block = block;
        s->offset = offset;
        s->state.store(until, std::memory_order_release);
        s->state.notify_all();
    }
    return true;
}

static void draw_worker_main(DrawWorker* w) {
    DrawBand band;
    for (;;) {
        uint32_t signal = queue_signal.load(std::memory_order_acquire);
        uint32_t published = queue_published.load(std::memory_order_acquire);
        if (!queue_held.load(std::memory_order_relaxed) &&
            draw_claim_and_replay(w->stretches, published, DRAW_CLAIM_MOST, &band))
            continue;
        if (queue_stopping.load(std::memory_order_acquire)) return;
        queue_signal.wait(signal, std::memory_order_acquire);
    }
}

static void draw_queue_split(void) {
    int count = queue_worker_count + 1;
    draw_band_split(&queue_main_band, 0, count, DRAW_BAND_CYCLES, queue_main_rows);
    DrawBand rows;
    for (int i = 0; i < queue_worker_count; i++) {
        draw_band_split(&rows, i + 1, count, DRAW_BAND_CYCLES, queue_main_rows);
        for (int c = 0; c < DRAW_BAND_CYCLES; c++) {
            DrawStretch* s = &queue_workers[i].stretches[c];
            s->top = SCREEN_HEIGHT * c / DRAW_BAND_CYCLES;
            s->bottom = SCREEN_HEIGHT * (c + 1) / DRAW_BAND_CYCLES;
            memset(s->band.owns, 0, sizeof s->band.owns);
            memcpy(s->band.owns + s->top, rows.owns + s->top, (size_t)(s->bottom - s->top));
            draw_band_link(&s->band);
        }
    }
}

static void draw_queue_publish(void) {
    queue_published.store(queue_written, std::memory_order_release);
    queue_signal.fetch_add(1, std::memory_order_release);
    queue_signal.notify_all();
}

DrawReplay draw_queue_held_replay = nullptr;
alignas(16) static unsigned char queue_held_payload[DRAW_HELD_MAX];
static size_t queue_held_size;

void draw_queue_hold(DrawReplay replay, const void* payload, size_t size) {
    draw_queue_settle();
    if (size > DRAW_HELD_MAX) {
        draw_queue_call(replay, payload, size);
        return;
    }
    if (size) memcpy(queue_held_payload, payload, size);
    queue_held_size = size;
    draw_queue_held_replay = replay;
}

const void* draw_queue_held(DrawReplay replay) {
    return replay && draw_queue_held_replay == replay ? queue_held_payload : nullptr;
}

void draw_queue_drop_held(void) { draw_queue_held_replay = nullptr; }

void draw_queue_settle_held(void) {
    DrawReplay replay = draw_queue_held_replay;
    if (!replay) return;
    draw_queue_held_replay = nullptr;  // before the call, which settles first
    draw_queue_call(replay, queue_held_payload, queue_held_size);
}

void draw_queue_flush(void) {
    draw_queue_settle();
    if (!draw_queue_active || queue_written == queue_flushed) return;
    draw_queue_publish();
    // The main thread's share, while the helpers draw theirs; the list since the last flush starts
    // at the first block.
    DrawBlock* block = queue_first;
    size_t offset = 0;
    uint32_t seen = queue_flushed;
    draw_band = &queue_main_band;
    draw_replay(&block, &offset, &seen, queue_written);
    draw_band = nullptr;
    const int stretch_count = queue_worker_count * DRAW_BAND_CYCLES;
    bool helpers_done = true;
    for (int i = 0; i < stretch_count && helpers_done; i++)
        helpers_done = queue_stretches[i].state.load(std::memory_order_relaxed) == queue_written;
    // Then whatever the helpers have not claimed, so that a helper the machine has not run costs
    // only the rows it has not started; the main thread waits only for the commands a helper holds.
    for (;;) {
        bool claimed = false;
        for (int i = 0; i < queue_worker_count; i++) {
            while (draw_claim_and_replay(queue_workers[i].stretches, queue_written, UINT32_MAX,
                                         &queue_taken_band)) {
                claimed = true;
                queue_taken++;
            }
        }
        if (claimed) continue;
        int i = 0;
        uint64_t s = 0;
        for (; i < stretch_count; i++)
            if ((s = queue_stretches[i].state.load(std::memory_order_acquire)) != queue_written) break;
        if (i == stretch_count) break;
        if (s & DRAW_CLAIMED) queue_stretches[i].state.wait(s, std::memory_order_acquire);
    }
    queue_flushed = queue_written;
    queue_pending = 0;
    // The helpers have nothing to claim until the next publication, which carries the new split
    // and the reader's new place to them.
    int main_rows = queue_main_rows + (helpers_done ? -1 : 1);
    if (main_rows >= 0 && main_rows <= queue_main_rows_max) {
        queue_main_rows = main_rows;
        draw_queue_split();
    }
    queue_block = queue_first;
    queue_offset = 0;
    for (int i = 0; i < stretch_count; i++) {
        queue_stretches[i].block = queue_first;
        queue_stretches[i].offset = 0;
    }
}

void draw_queue_hold_helpers(bool hold) {
    queue_held.store(hold, std::memory_order_relaxed);
    if (!hold) {
        queue_signal.fetch_add(1, std::memory_order_release);
        queue_signal.notify_all();
    }
}

uint64_t draw_queue_taken_over(void) { return queue_taken; }

void draw_queue_note(uint32_t pending) { queue_pending |= pending; }

void draw_queue_flush_if(uint32_t pending) {
    if (queue_pending & pending) draw_queue_flush();
}

void* draw_queue_push(DrawReplay replay, size_t size) {
    draw_queue_settle();
    if (!draw_queue_active || size > DRAW_COMMAND_MAX) return nullptr;
    if (queue_check) draw_queue_flush();
    else if (queue_written - queue_published.load(std::memory_order_relaxed) >= DRAW_PUBLISH_EVERY)
        draw_queue_publish();
    size_t bytes = (sizeof(DrawCommand) + size + 15) & ~(size_t)15;
    // Room is kept for the header that moves the readers on to the next block.
    if (queue_offset + bytes + sizeof(DrawCommand) > DRAW_BLOCK_BYTES) {
        if (!queue_block->next) queue_block->next = new (std::nothrow) DrawBlock{};
        if (queue_block->next) {
            DrawCommand* jump = (DrawCommand*)(queue_block->bytes + queue_offset);
            jump->replay = nullptr;
            jump->bytes = 0;
            queue_block = queue_block->next;
            queue_offset = 0;
        } else {
            draw_queue_flush();  // no memory for another block: draw this one and start it again
        }
    }
    DrawCommand* c = (DrawCommand*)(queue_block->bytes + queue_offset);
    c->replay = replay;
    c->bytes = (uint32_t)bytes;
    queue_offset += bytes;
    queue_written++;
    return c + 1;
}

void draw_queue_call(DrawReplay replay, const void* payload, size_t size) {
    draw_queue_settle();
    if (draw_queue_active) {
        if (void* room = draw_queue_push(replay, size)) {
            if (size) memcpy(room, payload, size);  // a call may carry nothing (payload may be null)
            return;
        }
        draw_queue_flush();
    }
    replay(payload);
}

static void draw_queue_release(void) {
    for (int i = 0; i < queue_worker_count; i++) queue_workers[i].thread.join();
    delete[] queue_workers;
    queue_workers = nullptr;
    delete[] queue_stretches;
    queue_stretches = nullptr;
    queue_worker_count = 0;
    while (queue_first) {
        DrawBlock* next = queue_first->next;
        delete queue_first;
        queue_first = next;
    }
    queue_block = nullptr;
}

int draw_queue_start(int threads) {
    if (draw_queue_active) return 0;
    if (threads <= 1) return 0;
    if (threads > DRAW_THREADS_MAX) threads = DRAW_THREADS_MAX;
    const char* check = getenv("QUILLET_THREADS_CHECK");
    queue_check = check && !strcmp(check, "1");
    queue_first = new (std::nothrow) DrawBlock{};
    // The blocks the busiest frames need, made (and zeroed) now rather than mid-show.
    for (int k = 1; k < DRAW_BLOCKS_AT_START && queue_first; k++) if (DrawBlock* b = new (std::nothrow) DrawBlock{}) { b->next = queue_first; queue_first = b; }
    queue_workers = new (std::nothrow) DrawWorker[threads - 1];
    queue_stretches = new (std::nothrow) DrawStretch[(size_t)(threads - 1) * DRAW_BAND_CYCLES];
    if (!queue_first || !queue_workers || !queue_stretches) {
        draw_queue_release();
        return 1;
    }
    queue_block = queue_first;
    queue_offset = 0;
    queue_written = queue_flushed = 0;
    queue_pending = 0;
    queue_published.store(0, std::memory_order_relaxed);
    queue_stopping.store(false, std::memory_order_relaxed);
    queue_taken = 0;
    for (int i = 0; i < threads - 1; i++) {
        queue_workers[i].stretches = &queue_stretches[(size_t)i * DRAW_BAND_CYCLES];
        for (int c = 0; c < DRAW_BAND_CYCLES; c++) queue_workers[i].stretches[c].block = queue_first;
    }
    // An equal share to start with, and never more.
    queue_main_rows = queue_main_rows_max = (int)SCREEN_HEIGHT / (int)DRAW_BAND_CYCLES / threads;
    queue_worker_count = threads - 1;
    draw_queue_split();
    int started = 0;
    for (; started < threads - 1; started++) {
        // The standard library reports a thread it cannot start only by throwing.
        try {
            queue_workers[started].thread = std::thread(draw_worker_main, &queue_workers[started]);
        } catch (...) {
            break;
        }
    }
    queue_worker_count = started;
    if (started < threads - 1) {
        draw_queue_active = 1;
        draw_queue_stop();
        return 1;
    }
    draw_queue_active = 1;
    return 0;
}

void draw_queue_stop(void) {
    if (!draw_queue_active) return;
    draw_queue_flush();
    queue_stopping.store(true, std::memory_order_release);
    queue_signal.fetch_add(1, std::memory_order_release);
    queue_signal.notify_all();
    draw_queue_release();
    draw_queue_active = 0;
}
