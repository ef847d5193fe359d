#include "render/render.h"

#include <sys/stat.h>
#define XXH_STATIC_LINKING_ONLY  // the streaming state on the stack
#include <xxhash.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <thread>

#include "gfx/display.h"
#include "gfx/image.h"
#include "gfx/draw_queue.h"
#include "gfx/path.h"
#include "gfx/simd.h"
#include "render/render_music.h"
#include "runtime/clock.h"
#include "runtime/show.h"
#include "scenes/scenes.h"

// The scenes that name the show's sections, in show order; their beats are their timeline rows'.
static const struct {
    void (*render)(float seconds);
    const char* name;
} render_section_scenes[RENDER_SECTIONS] = {
    {scene_intro_tv_render, "intro"},        {scene_cube_render, "voxel cubes"},
    {scene_shadows_render, "knot shadows"},  {scene_tree_render, "tree"},
    {scene_carved_box_render, "carved box"}, {scene_springs_render, "ropes"},
    {scene_ribbon_render, "bump sphere"},    {scene_poles_render, "cloth"},
};

BenchSection render_section(int index) {
    BenchSection section = {render_section_scenes[index].name, 0, 0};
    for (int i = 0; i < TIMELINE_COUNT; i++) {
        if (timeline[i].render != render_section_scenes[index].render) continue;
        section.start_beat = timeline[i].start_beat;
        section.end_beat = timeline[i].end_beat;
        break;
    }
    return section;
}

void render_print_usage(FILE* out) {
    fprintf(out,
            "usage: quillet-render --frames BEAT[,BEAT...] --out DIR [--from BEAT] [--fps N] [--scale N]\n"
            "       quillet-render --video FILE.mp4 [--fps N] [--scale N] [--from BEAT] [--to BEAT]\n"
            "       quillet-render --bench [--fps N] [--from BEAT] [--to BEAT]\n"
            "       quillet-render --digest [--fps N] [--from BEAT] [--to BEAT] [--check FILE [--out DIR]]\n"
            "Renders the show without a display or a sound device, from the data folder of the working\n"
            "directory (or of --data DIR). Beats run from 0 to %d; the clock steps 1/fps per frame.\n"
            "  --frames   one PNG per listed beat, written to DIR/beat-NNN.png\n"
            "  --video    H.264 video with the matching part of the track (needs ffmpeg)\n"
            "  --bench    renders as fast as it can and prints frame times per section\n"
            "  --digest   prints 'FRAME BEAT HASH' per frame, then 'show HASH' (XXH3, 64 bits); with\n"
            "             --check, stops at the first frame that differs from FILE and writes it to DIR\n",
            SHOW_BEATS);
}

static int render_parse_int(const char* text, int* out) {
    if (!text || !*text) return 1;
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (*end != 0 || value < -1000000 || value > 1000000) return 1;
    *out = (int)value;
    return 0;
}

int render_parse_args(int argc, char** argv, RenderOptions* o, FILE* err) {
    *o = RenderOptions{};
    o->mode = -1;
    o->fps = 60;
    o->scale = 1;
    o->from_beat = 0;
    o->to_beat = SHOW_BEATS;
    bool to_given = false;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto need_value = [&]() {
            if (!value) fprintf(err, "quillet-render: %s needs a value\n", arg);
            return value != nullptr;
        };
        if (!strcmp(arg, "--help") || !strcmp(arg, "-h")) {
            o->mode = RENDER_TOOL_HELP;
            return 0;
        } else if (!strcmp(arg, "--bench")) {
            o->mode = RENDER_TOOL_BENCH;
        } else if (!strcmp(arg, "--digest")) {
            o->mode = RENDER_TOOL_DIGEST;
        } else if (!strcmp(arg, "--check")) {
            if (!need_value()) return 2;
            o->check_path = value;
            i++;
        } else if (!strcmp(arg, "--frames")) {
            if (!need_value()) return 2;
            o->mode = RENDER_TOOL_FRAMES;
            std::string list = value;
            size_t start = 0;
            while (start <= list.size()) {
                size_t comma = list.find(',', start);
                std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                int beat;
                if (render_parse_int(item.c_str(), &beat) != 0) {
                    fprintf(err, "quillet-render: '%s' is not a beat\n", item.c_str());
                    return 2;
                }
                o->beats.push_back(beat);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            i++;
        } else if (!strcmp(arg, "--video")) {
            if (!need_value()) return 2;
            o->mode = RENDER_TOOL_VIDEO;
            o->video_path = value;
            i++;
        } else if (!strcmp(arg, "--out") || !strcmp(arg, "--data")) {
            if (!need_value()) return 2;
            (!strcmp(arg, "--out") ? o->out_dir : o->data_root) = value;
            i++;
        } else if (!strcmp(arg, "--fps") || !strcmp(arg, "--scale") || !strcmp(arg, "--from") ||
                   !strcmp(arg, "--to")) {
            if (!need_value()) return 2;
            int number;
            if (render_parse_int(value, &number) != 0) {
                fprintf(err, "quillet-render: %s needs a whole number, not '%s'\n", arg, value);
                return 2;
            }
            if (!strcmp(arg, "--fps")) o->fps = number;
            else if (!strcmp(arg, "--scale")) o->scale = number;
            else if (!strcmp(arg, "--from")) o->from_beat = number;
            else { o->to_beat = number; to_given = true; }
            i++;
        } else {
            fprintf(err, "quillet-render: unknown option '%s' (see --help)\n", arg);
            return 2;
        }
    }
    if (o->mode < 0) {
        fprintf(err, "quillet-render: say what to render: --frames, --video, --bench or --digest (see --help)\n");
        return 2;
    }
    if (o->fps < 1 || o->fps > 1000) {
        fprintf(err, "quillet-render: --fps must lie between 1 and 1000\n");
        return 2;
    }
    if (o->scale < 1 || o->scale > 8) {
        fprintf(err, "quillet-render: --scale must lie between 1 and 8\n");
        return 2;
    }
    for (int beat : o->beats) {
        if (beat < 0 || beat > SHOW_BEATS) {
            fprintf(err, "quillet-render: beat %d lies outside the show (0-%d)\n", beat, SHOW_BEATS);
            return 2;
        }
        if (beat < o->from_beat) {
            fprintf(err, "quillet-render: beat %d comes before --from %d\n", beat, o->from_beat);
            return 2;
        }
    }
    if (o->from_beat < 0 || o->from_beat > SHOW_BEATS || o->to_beat < 0 || o->to_beat > SHOW_BEATS) {
        fprintf(err, "quillet-render: --from and --to must lie within the show (0-%d)\n", SHOW_BEATS);
        return 2;
    }
    if (o->to_beat <= o->from_beat && (to_given || o->mode != RENDER_TOOL_FRAMES)) {
        fprintf(err, "quillet-render: the range ends (beat %d) before it starts (beat %d)\n", o->to_beat,
                o->from_beat);
        return 2;
    }
    if (o->check_path && o->mode != RENDER_TOOL_DIGEST) {
        fprintf(err, "quillet-render: --check goes with --digest\n");
        return 2;
    }
    if (o->mode == RENDER_TOOL_FRAMES && !o->out_dir) {
        fprintf(err, "quillet-render: --frames needs --out DIR\n");
        return 2;
    }
    return 0;
}

int64_t render_frame_for_beat(int beat, int fps) {
    // The clock narrows seconds to float on the way to beats, so step until the integer beat is reached.
    int64_t frame = (int64_t)std::floor((double)beat * 60.0 / (double)SHOW_BPM * fps);
    if (frame < 0) frame = 0;
    clock_set_bpm(SHOW_BPM);
    for (;;) {
        demo_clock.clock_seconds = (double)frame / fps;
        clock_update_beat();
        if (clock_beat_index() >= beat) return frame;
        frame++;
    }
}

void render_set_frame(int64_t frame, int fps) {
    render_music_set_time((double)frame / (double)fps);
    demo_clock.clock_delta = 1.0 / (double)fps;  // every frame is one step, also after a --from jump
}

int render_show_open(void) {
    int drawing_threads = 1;
    if (draw_threads_from_env("quillet-render", stderr, &drawing_threads) != 0) return 1;
    if (display_open_offscreen(1) != 0) {
        printf("quillet-render: out of memory for the off-screen display\n");
        return 1;
    }
    clock_reset();
    clock_tick();
    if (parts_init_all() != 0) {
        printf("quillet-render: the show's data could not be loaded (is there a data folder here?)\n");
        display_close();
        return 1;
    }
    if (render_music_open(SHOW_MUSIC_FILE, SHOW_BPM) != 0) {
        printf("quillet-render: unable to read the track \"%s\"\n", SHOW_MUSIC_FILE);
        parts_free_all();
        display_close();
        return 1;
    }
    if (draw_queue_start(drawing_threads) != 0)
        fprintf(stderr, "quillet-render: drawing on one thread (no more threads could be started)\n");
    return 0;
}

void render_show_close(void) {
    draw_queue_stop();
    parts_free_all();
    render_music_close();
    display_close();
}

// A frame's row as 8-bit RGB (or BGRA with opaque alpha), each pixel repeated scale times across.
static void render_scaled_row(const uint32_t* pixels, int pitch, int y, int scale, uint8_t* out,
                              int bytes_per_pixel) {
    const uint32_t* row = pixels + (size_t)y * (pitch / 4);
    for (int x = 0; x < SCREEN_WIDTH; x++) {
        uint32_t p = row[x];
        for (int k = 0; k < scale; k++) {
            if (bytes_per_pixel == 3) {
                out[0] = (uint8_t)(p >> 16); out[1] = (uint8_t)(p >> 8); out[2] = (uint8_t)p;
            } else {
                out[0] = (uint8_t)p; out[1] = (uint8_t)(p >> 8); out[2] = (uint8_t)(p >> 16); out[3] = 255;
            }
            out += bytes_per_pixel;
        }
    }
}

struct RenderPngRows {
    const uint32_t* pixels;
    int pitch;
    int scale;
    uint8_t* bytes;
};

static const uint8_t* render_png_row(int y, void* context) {
    RenderPngRows* rows = (RenderPngRows*)context;
    render_scaled_row(rows->pixels, rows->pitch, y / rows->scale, rows->scale, rows->bytes, 3);
    return rows->bytes;
}

int render_write_png_pixels(const char* path, const uint32_t* pixels, int pitch, int scale) {
    RenderPngRows rows = {pixels, pitch, scale, (uint8_t*)malloc((size_t)SCREEN_WIDTH * scale * 3)};
    if (!rows.bytes) return 1;
    int result = image_write_png_rows(path, SCREEN_WIDTH * scale, SCREEN_HEIGHT * scale, 3,
                                      render_png_row, &rows);
    free(rows.bytes);
    return result;
}

int render_write_png(const char* path, int scale) {
    return render_write_png_pixels(path, framebuffer.pixels, framebuffer.pitch, scale);
}

enum { RENDER_OUTPUT_IDLE, RENDER_OUTPUT_BUSY, RENDER_OUTPUT_STOP };

struct RenderOutput {
    RenderOutputWrite write;
    void* context;
    uint32_t* pixels;  // the copy being written, SCREEN_WIDTH words a row
    char name[4096];
    // Written by the writer while BUSY, read by the main thread only once it has seen IDLE.
    int status;
    char failed[4096];
    std::atomic<int> state;
    bool threaded;
    std::thread thread;
};

static void render_output_write(RenderOutput* output) {
    if (output->write(output->pixels, output->name, output->context) == 0) return;
    output->status = 1;
    memcpy(output->failed, output->name, sizeof output->failed);
}

static void render_output_main(RenderOutput* output) {
    for (;;) {
        output->state.wait(RENDER_OUTPUT_IDLE, std::memory_order_acquire);
        if (output->state.load(std::memory_order_acquire) == RENDER_OUTPUT_STOP) return;
        render_output_write(output);
        output->state.store(RENDER_OUTPUT_IDLE, std::memory_order_release);
        output->state.notify_all();
    }
}

static void render_output_wait(RenderOutput* output) {
    while (output->state.load(std::memory_order_acquire) == RENDER_OUTPUT_BUSY)
        output->state.wait(RENDER_OUTPUT_BUSY, std::memory_order_acquire);
}

RenderOutput* render_output_open(RenderOutputWrite write, void* context) {
    RenderOutput* output = new (std::nothrow) RenderOutput{};
    if (!output) return nullptr;
    output->pixels = (uint32_t*)malloc((size_t)SCREEN_WIDTH * SCREEN_HEIGHT * 4);
    if (!output->pixels) {
        delete output;
        return nullptr;
    }
    output->write = write;
    output->context = context;
    output->state.store(RENDER_OUTPUT_IDLE, std::memory_order_relaxed);
    // The standard library reports a thread it cannot start only by throwing; writing then stays
    // on the main thread.
    try {
        output->thread = std::thread(render_output_main, output);
        output->threaded = true;
    } catch (...) {
        output->threaded = false;
    }
    return output;
}

int render_output_put(RenderOutput* output, const uint32_t* pixels, int pitch, const char* name) {
    render_output_wait(output);
    if (output->status) return 1;
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        memcpy(output->pixels + (size_t)y * SCREEN_WIDTH, (const uint8_t*)pixels + (size_t)y * pitch,
               (size_t)SCREEN_WIDTH * 4);
    snprintf(output->name, sizeof output->name, "%s", name ? name : "");
    if (!output->threaded) {
        render_output_write(output);
        return output->status;
    }
    output->state.store(RENDER_OUTPUT_BUSY, std::memory_order_release);
    output->state.notify_all();
    return 0;
}

int render_output_close(RenderOutput* output, char* failed_name, size_t size) {
    if (!output) return 0;
    render_output_wait(output);
    if (output->threaded) {
        output->state.store(RENDER_OUTPUT_STOP, std::memory_order_release);
        output->state.notify_all();
        output->thread.join();
    }
    int status = output->status;
    if (status && failed_name && size > 0) snprintf(failed_name, size, "%s", output->failed);
    free(output->pixels);
    delete output;
    return status;
}

static int render_make_folder(const char* dir) {
    struct stat st;
    if (stat(dir, &st) == 0) return S_ISDIR(st.st_mode) ? 0 : 1;
    return mkdir(dir, 0755) == 0 ? 0 : 1;
}

// A progress line on standard error: frames done, speed and the time left.
// On a terminal the line is redrawn in place; elsewhere (a log) one line is written per tenth.
static void render_progress(int64_t done, int64_t total, double elapsed_s) {
    static const bool terminal = isatty(2);
    if (!terminal && done != total && (total < 10 || done % (total / 10) != 0)) return;
    const int width = 30;
    int filled = total > 0 ? (int)(width * done / total) : width;
    double speed = elapsed_s > 0 ? done / elapsed_s : 0.0;
    double left = speed > 0 ? (total - done) / speed : 0.0;
    char bar[width + 1];
    for (int i = 0; i < width; i++) bar[i] = i < filled ? '#' : '.';
    bar[width] = 0;
    fprintf(stderr, "%s[%s] %lld/%lld frames  %.1f fps  %d:%02d left ", terminal ? "\r" : "", bar,
            (long long)done, (long long)total, speed, (int)left / 60, (int)left % 60);
    if (done == total || !terminal) fprintf(stderr, "\n");
    fflush(stderr);
}

static double render_seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

static int render_frames_write(const uint32_t* pixels, const char* path, void* context) {
    return render_write_png_pixels(path, pixels, SCREEN_WIDTH * 4, *(const int*)context);
}

int render_frames(const RenderOptions* o) {
    if (render_make_folder(o->out_dir) != 0) {
        printf("quillet-render: cannot write to the folder \"%s\"\n", o->out_dir);
        return 1;
    }
    std::vector<int> beats = o->beats;
    std::sort(beats.begin(), beats.end());
    beats.erase(std::unique(beats.begin(), beats.end()), beats.end());
    std::vector<int64_t> targets;
    for (int beat : beats) targets.push_back(render_frame_for_beat(beat, o->fps));
    int64_t first = render_frame_for_beat(o->from_beat, o->fps);
    int64_t last = targets.back();
    if (render_show_open() != 0) return 1;
    int scale = o->scale;
    RenderOutput* output = render_output_open(render_frames_write, &scale);
    if (!output) {
        printf("quillet-render: out of memory for the frames' output\n");
        render_show_close();
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    size_t next = 0;
    int status = 0;
    for (int64_t frame = first; frame <= last && status == 0; frame++) {
        render_set_frame(frame, o->fps);
        show_frame();
        while (status == 0 && next < targets.size() && targets[next] == frame) {
            char path[4096];
            snprintf(path, sizeof path, "%s/beat-%03d.png", o->out_dir, beats[next]);
            status = render_output_put(output, framebuffer.pixels, framebuffer.pitch, path);
            next++;
        }
        render_progress(frame - first + 1, last - first + 1, render_seconds_since(start));
    }
    char failed[4096];
    if (render_output_close(output, failed, sizeof failed) != 0) {
        printf("quillet-render: cannot write \"%s\"\n", failed);
        status = 1;
    }
    render_show_close();
    return status;
}

struct RenderVideoPipe {
    FILE* pipe;
    int scale;
    std::vector<uint8_t> row;
};

static int render_video_write(const uint32_t* pixels, const char*, void* context) {
    RenderVideoPipe* video = (RenderVideoPipe*)context;
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        render_scaled_row(pixels, SCREEN_WIDTH * 4, y, video->scale, video->row.data(), 4);
        for (int k = 0; k < video->scale; k++)
            if (fwrite(video->row.data(), 1, video->row.size(), video->pipe) != video->row.size()) return 1;
    }
    return 0;
}

int render_video(const RenderOptions* o) {
    char ffmpeg[4096];
    if (path_find_program("ffmpeg", ffmpeg, sizeof ffmpeg) != 0) {
        printf("quillet-render: ffmpeg is needed for --video and was not found\n");
        return 1;
    }
    if (strchr(o->video_path, '\'')) {
        printf("quillet-render: the video's file name may not contain a quote\n");
        return 1;
    }
    int64_t first = render_frame_for_beat(o->from_beat, o->fps);
    int64_t end = render_frame_for_beat(o->to_beat, o->fps);
    if (render_show_open() != 0) return 1;

    char wav[] = "/tmp/quillet-render-XXXXXX";
    int fd = mkstemp(wav);
    if (fd < 0 || render_music_write_wav(wav, (double)first / o->fps, (double)end / o->fps) != 0) {
        printf("quillet-render: cannot write the track's audio for the video\n");
        if (fd >= 0) { close(fd); unlink(wav); }
        render_show_close();
        return 1;
    }
    close(fd);
    int width = SCREEN_WIDTH * o->scale, height = SCREEN_HEIGHT * o->scale;
    char command[16384];
    snprintf(command, sizeof command,
             "'%s' -y -loglevel error -f rawvideo -pix_fmt bgra -s %dx%d -r %d -i - -i '%s' "
             "-map 0:v -map 1:a -c:v libx264 -preset medium -crf 18 -pix_fmt yuv420p "
             "-c:a aac -b:a 192k -shortest '%s'",
             ffmpeg, width, height, o->fps, wav, o->video_path);
    FILE* pipe = popen(command, "w");
    if (!pipe) {
        printf("quillet-render: cannot start ffmpeg\n");
        unlink(wav);
        render_show_close();
        return 1;
    }
    // An ffmpeg that ends early makes the next write fail rather than end this process; ignored
    // only after the start, so ffmpeg itself keeps the usual signal.
    void (*old_sigpipe)(int) = signal(SIGPIPE, SIG_IGN);
    RenderVideoPipe video = {pipe, o->scale, std::vector<uint8_t>((size_t)width * 4)};
    RenderOutput* output = render_output_open(render_video_write, &video);
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    if (!output) {
        printf("quillet-render: out of memory for the video's output\n");
        status = 1;
    }
    for (int64_t frame = first; frame < end && status == 0; frame++) {
        render_set_frame(frame, o->fps);
        show_frame();
        status = render_output_put(output, framebuffer.pixels, framebuffer.pitch, nullptr);
        render_progress(frame - first + 1, end - first, render_seconds_since(start));
    }
    if (render_output_close(output, nullptr, 0) != 0) status = 1;
    int ffmpeg_status = pclose(pipe);
    signal(SIGPIPE, old_sigpipe);
    unlink(wav);
    render_show_close();
    if (status != 0 || ffmpeg_status != 0) {
        printf("quillet-render: ffmpeg failed to write \"%s\"\n", o->video_path);
        return 1;
    }
    return 0;
}

FrameStats render_frame_stats(std::vector<double> ms) {
    FrameStats s = {};
    s.frames = (int)ms.size();
    if (ms.empty()) return s;
    std::sort(ms.begin(), ms.end());
    size_t n = ms.size();
    s.median_ms = n % 2 ? ms[n / 2] : 0.5 * (ms[n / 2 - 1] + ms[n / 2]);
    size_t p99 = (size_t)std::ceil(0.99 * (double)n);
    s.p99_ms = ms[std::min(n - 1, p99 > 0 ? p99 - 1 : 0)];
    s.max_ms = ms.back();
    double total = 0;
    for (double v : ms) total += v;
    s.fps = total > 0 ? 1000.0 * (double)n / total : 0.0;
    return s;
}

int render_bench(const RenderOptions* o, FILE* out) {
    int64_t first = render_frame_for_beat(o->from_beat, o->fps);
    int64_t end = render_frame_for_beat(o->to_beat, o->fps);
    if (render_show_open() != 0) return 1;
    BenchSection sections[RENDER_SECTIONS];
    for (int s = 0; s < RENDER_SECTIONS; s++) sections[s] = render_section(s);
    std::vector<double> section_ms[RENDER_SECTIONS];
    std::vector<double> all_ms;
    auto start = std::chrono::steady_clock::now();
    for (int64_t frame = first; frame < end; frame++) {
        render_set_frame(frame, o->fps);
        int beat = clock_beat_index();
        auto t0 = std::chrono::steady_clock::now();
        show_frame();
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        all_ms.push_back(ms);
        for (int s = 0; s < RENDER_SECTIONS; s++)
            if (sections[s].start_beat <= beat && beat < sections[s].end_beat) section_ms[s].push_back(ms);
        render_progress(frame - first + 1, end - first, render_seconds_since(start));
    }
    double wall = render_seconds_since(start);
    render_show_close();

    fprintf(out, "%-14s %-9s %7s %10s %8s %8s %9s\n", "section", "beats", "frames", "median ms", "p99 ms",
            "max ms", "fps");
    for (int s = 0; s < RENDER_SECTIONS; s++) {
        FrameStats st = render_frame_stats(section_ms[s]);
        if (st.frames == 0) continue;
        char beats[32];
        snprintf(beats, sizeof beats, "%d-%d", sections[s].start_beat, sections[s].end_beat);
        fprintf(out, "%-14s %-9s %7d %10.3f %8.3f %8.3f %9.1f\n", sections[s].name, beats, st.frames,
                st.median_ms, st.p99_ms, st.max_ms, st.fps);
    }
    FrameStats total = render_frame_stats(all_ms);
    char beats[32];
    snprintf(beats, sizeof beats, "%d-%d", o->from_beat, o->to_beat);
    fprintf(out, "%-14s %-9s %7d %10.3f %8.3f %8.3f %9.1f\n", "whole show", beats, total.frames,
            total.median_ms, total.p99_ms, total.max_ms, total.fps);
    double show_seconds = (double)total.frames / o->fps;
    fprintf(out, "rendered %.1f s of show at %d fps in %.1f s: %.2fx real time\n", show_seconds, o->fps, wall,
            wall > 0 ? show_seconds / wall : 0.0);
    return 0;
}

uint64_t render_frame_hash(const uint32_t* pixels, int pitch) {
    const size_t row_bytes = (size_t)SCREEN_WIDTH * 4;
    if ((size_t)pitch == row_bytes) return XXH3_64bits(pixels, row_bytes * SCREEN_HEIGHT);
    // Padded rows: the same hash as the contiguous case, fed one row at a time.
    XXH3_state_t state;
    XXH3_INITSTATE(&state);
    XXH3_64bits_reset(&state);
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        XXH3_64bits_update(&state, (const uint8_t*)pixels + (size_t)y * pitch, row_bytes);
    return XXH3_64bits_digest(&state);
}

int render_digest_line(char* text, size_t size, int64_t frame, float beat, uint64_t hash) {
    return snprintf(text, size, "%lld %.3f %016llx", (long long)frame, (double)beat, (unsigned long long)hash);
}

uint64_t render_show_hash(const std::vector<uint64_t>& frame_hashes) {
    return XXH3_64bits(frame_hashes.data(), frame_hashes.size() * sizeof(uint64_t));
}

// A stored digest: its frame lines by frame number and its closing line.
struct DigestReference {
    std::map<int64_t, std::string> lines;
    std::string show_line;
};

// 0 ok, 1 unreadable or not a digest (message printed).
static int render_read_reference(const char* path, DigestReference* ref) {
    FILE* file = fopen(path, "r");
    if (!file) {
        printf("quillet-render: cannot read the digest \"%s\"\n", path);
        return 1;
    }
    char line[256];
    int number = 0, status = 0;
    while (status == 0 && fgets(line, sizeof line, file)) {
        number++;
        line[strcspn(line, "\r\n")] = 0;
        long long frame;
        char beat[32], hash[32];
        char tail;
        if (sscanf(line, "show %31s %c", hash, &tail) == 1 && strlen(hash) == 16 && ref->show_line.empty()) {
            ref->show_line = line;
        } else if (sscanf(line, "%lld %31s %31s %c", &frame, beat, hash, &tail) == 3 && frame >= 0 &&
                   strlen(hash) == 16 && ref->show_line.empty() && !ref->lines.count(frame)) {
            ref->lines[frame] = line;
        } else {
            printf("quillet-render: line %d of \"%s\" is not a digest line\n", number, path);
            status = 1;
        }
    }
    fclose(file);
    if (status == 0 && ref->show_line.empty()) {
        printf("quillet-render: \"%s\" has no closing 'show' line\n", path);
        status = 1;
    }
    return status;
}

// Writes the frame now in the framebuffer as DIR/frame-NNNNN.png so the difference can be looked at.
static void render_keep_frame(const RenderOptions* o, int64_t frame) {
    if (!o->out_dir) return;
    char path[4096];
    snprintf(path, sizeof path, "%s/frame-%05lld.png", o->out_dir, (long long)frame);
    if (render_make_folder(o->out_dir) == 0 && render_write_png(path, 1) == 0) printf("quillet-render: wrote %s\n", path);
    else printf("quillet-render: cannot write \"%s\"\n", path);
}

int render_digest(const RenderOptions* o, FILE* out) {
    DigestReference ref;
    if (o->check_path && render_read_reference(o->check_path, &ref) != 0) return 1;
    int64_t first = render_frame_for_beat(o->from_beat, o->fps);
    int64_t end = render_frame_for_beat(o->to_beat, o->fps);
    if (render_show_open() != 0) return 1;
    fprintf(stderr, "quillet-render: SIMD routines at the %s level\n", simd_level_name(simd_level()));
    std::vector<uint64_t> hashes;
    hashes.reserve((size_t)(end - first));
    auto start = std::chrono::steady_clock::now();
    char line[128];
    int status = 0;
    for (int64_t frame = first; frame < end && status == 0; frame++) {
        render_set_frame(frame, o->fps);
        float beat = demo_clock.clock_beat;
        show_frame();
        uint64_t hash = render_frame_hash(framebuffer.pixels, framebuffer.pitch);
        hashes.push_back(hash);
        render_digest_line(line, sizeof line, frame, beat, hash);
        fprintf(out, "%s\n", line);
        if (o->check_path) {
            auto expected = ref.lines.find(frame);
            if (expected == ref.lines.end()) {
                printf("quillet-render: frame %lld (beat %.3f) is not in \"%s\"\n", (long long)frame, (double)beat,
                       o->check_path);
                status = 1;
            } else if (expected->second != line) {
                printf("quillet-render: frame %lld (beat %.3f) differs: '%s', expected '%s'\n", (long long)frame,
                       (double)beat, line, expected->second.c_str());
                render_keep_frame(o, frame);
                status = 1;
            }
        }
        render_progress(frame - first + 1, end - first, render_seconds_since(start));
    }
    render_show_close();
    if (status != 0) return status;
    snprintf(line, sizeof line, "show %016llx", (unsigned long long)render_show_hash(hashes));
    fprintf(out, "%s\n", line);
    fflush(out);
    // Every rendered frame matched. A part of the show has no closing line to compare with.
    if (o->check_path && ref.lines.size() > hashes.size()) {
        fprintf(stderr, "quillet-render: %zu of the reference's %zu frames checked\n", hashes.size(), ref.lines.size());
    } else if (o->check_path && ref.show_line != line) {
        printf("quillet-render: '%s' differs from the reference's '%s'\n", line, ref.show_line.c_str());
        return 1;
    }
    return 0;
}
