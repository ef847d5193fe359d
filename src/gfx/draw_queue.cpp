// Drawing bands and the recorded drawing calls replayed by the drawing threads.
//
// The command list is a chain of 1 MiB blocks, kept from frame to frame. The main thread appends
// commands and publishes them in small batches (a release store of the count); each helper thread
// replays the published commands in order and reports how many it has done. The main thread is a
// drawing thread too: at a flush it publishes the rest, replays the list within its own bands, and
// waits until every helper has done them all; then the list starts again at its first block.
// Helpers sleep on the published count while there is nothing to draw.
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
        // With two processors or fewer the second drawing thread competes with everything else the
        // machine runs and was measured slower than one, so it is only used when asked for.
        unsigned n = std::thread::hardware_concurrency();
        *threads = n <= 2 ? 1 : n > DRAW_THREADS_MAX ? DRAW_THREADS_MAX : (int)n;
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

struct alignas(64) DrawWorker {
    std::atomic<uint32_t> done{0};  // commands replayed, modulo 2^32
    // The reader's place in the list: written by the main thread only while this thread is idle
    // (after its last `done`, before the next publication).
    DrawBlock* block = nullptr;
    size_t offset = 0;
    uint32_t seen = 0;
    DrawBand band;
    std::thread thread;
};

static DrawBlock* queue_first;      // the chain, kept from frame to frame
static DrawBlock* queue_block;      // where the main thread writes
static size_t queue_offset;
static uint32_t queue_written;      // commands recorded (main thread)
static uint32_t queue_flushed;      // commands known drawn by every thread
static uint32_t queue_pending;        // DRAW_PENDING_* since the last flush
static int queue_check;             // QUILLET_THREADS_CHECK=1
static std::atomic<uint32_t> queue_published{0};
static std::atomic<uint32_t> queue_signal{0};  // changes on every publication and at stop
static std::atomic<bool> queue_stopping{false};
static DrawWorker* queue_workers;  // the helpers: one fewer than the drawing threads
static int queue_worker_count;
static DrawBand queue_main_band;  // the main thread's rows, drawn at a flush
// Rows of each stretch that the main thread draws. It also runs the callers' own code, so it takes
// fewer than an equal share when the helpers finish first, and gives them back when it waits.
static int queue_main_rows;
static int queue_main_rows_max;

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

static void draw_worker_main(DrawWorker* w) {
    draw_band = &w->band;
    for (;;) {
        uint32_t signal = queue_signal.load(std::memory_order_acquire);
        uint32_t published = queue_published.load(std::memory_order_acquire);
        if (published == w->seen) {
            if (queue_stopping.load(std::memory_order_acquire)) return;
            queue_signal.wait(signal, std::memory_order_acquire);
            continue;
        }
        draw_replay(&w->block, &w->offset, &w->seen, published);
        w->done.store(published, std::memory_order_release);
        w->done.notify_one();
    }
}

static void draw_queue_split(void) {
    int count = queue_worker_count + 1;
    draw_band_split(&queue_main_band, 0, count, DRAW_BAND_CYCLES, queue_main_rows);
    for (int i = 0; i < queue_worker_count; i++)
        draw_band_split(&queue_workers[i].band, i + 1, count, DRAW_BAND_CYCLES, queue_main_rows);
}

static void draw_queue_publish(void) {
    queue_published.store(queue_written, std::memory_order_release);
    queue_signal.fetch_add(1, std::memory_order_release);
    queue_signal.notify_all();
}

void draw_queue_flush(void) {
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
    bool helpers_done = true;
    for (int i = 0; i < queue_worker_count; i++)
        helpers_done = helpers_done && queue_workers[i].done.load(std::memory_order_relaxed) == queue_written;
    for (int i = 0; i < queue_worker_count; i++) {
        DrawWorker* w = &queue_workers[i];
        uint32_t done;
        while ((done = w->done.load(std::memory_order_acquire)) != queue_written)
            w->done.wait(done, std::memory_order_acquire);
    }
    queue_flushed = queue_written;
    queue_pending = 0;
    // The helpers are idle until the next publication, which carries the new split to them.
    int main_rows = queue_main_rows + (helpers_done ? -1 : 1);
    if (main_rows >= 0 && main_rows <= queue_main_rows_max) {
        queue_main_rows = main_rows;
        draw_queue_split();
    }
    queue_block = queue_first;
    queue_offset = 0;
    for (int i = 0; i < queue_worker_count; i++) {
        queue_workers[i].block = queue_first;
        queue_workers[i].offset = 0;
    }
}

void draw_queue_note(uint32_t pending) { queue_pending |= pending; }

void draw_queue_flush_if(uint32_t pending) {
    if (queue_pending & pending) draw_queue_flush();
}

void* draw_queue_push(DrawReplay replay, size_t size) {
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
    if (draw_queue_active) {
        if (void* room = draw_queue_push(replay, size)) {
            memcpy(room, payload, size);
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
    if (!queue_first || !queue_workers) {
        draw_queue_release();
        return 1;
    }
    queue_block = queue_first;
    queue_offset = 0;
    queue_written = queue_flushed = 0;
    queue_pending = 0;
    queue_published.store(0, std::memory_order_relaxed);
    queue_stopping.store(false, std::memory_order_relaxed);
    for (int i = 0; i < threads - 1; i++) queue_workers[i].block = queue_first;
    // An equal share to start with, and never more.
    queue_main_rows = queue_main_rows_max = SCREEN_HEIGHT / DRAW_BAND_CYCLES / threads;
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
