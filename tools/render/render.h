// The offline renderer: the show's own frames without a display or a sound device. The clock is set
// from the frame number at a fixed rate (frame n at F frames per second is n / F seconds, every delta
// 1 / F), so every stateful scene sees the same frames, in the same order, as a real run at F frames
// per second, and every output is deterministic.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

enum RenderMode_ { RENDER_TOOL_FRAMES, RENDER_TOOL_VIDEO, RENDER_TOOL_BENCH, RENDER_TOOL_DIGEST, RENDER_TOOL_HELP };

struct RenderOptions {
    int mode;                  // RENDER_TOOL_*
    std::vector<int> beats;    // --frames
    const char* out_dir;       // --out
    const char* video_path;    // --video
    int fps;                   // --fps, default 60
    int scale;                 // --scale, default 1
    int from_beat;             // --from, default 0
    int to_beat;               // --to, default 434 (exclusive end of the show)
    const char* data_root;     // --data: folder holding data/, default the working directory
    const char* check_path;    // --check: a stored digest the --digest run must equal
};

// Parses the command line; 0 ok, 2 usage error (message written to err).
int render_parse_args(int argc, char** argv, RenderOptions* options, FILE* err);
void render_print_usage(FILE* out);

// The first frame whose integer beat is at least `beat` at `fps` frames per second.
int64_t render_frame_for_beat(int beat, int fps);
// Sets the show's clock and spectrum for frame n.
void render_set_frame(int64_t frame, int fps);

// Opens the off-screen display, builds every part and decodes the track; 0 ok, 1 failure.
int render_show_open(void);
void render_show_close(void);

// Writes the framebuffer as an 8-bit RGB PNG, enlarged by pixel replication; 0 ok, 1 failure.
int render_write_png(const char* path, int scale);
// The same for a 640 x 480 frame held elsewhere, `pitch` bytes a row.
int render_write_png_pixels(const char* path, const uint32_t* pixels, int pitch, int scale);

// Frame output on a thread of its own, one frame behind the drawing: render_output_put copies the
// finished frame and returns while the copy is encoded or piped, so the next frame is drawn
// meanwhile. Every frame reaches `write` whole, in order, exactly as it was put.
typedef int (*RenderOutputWrite)(const uint32_t* pixels, const char* name, void* context);
struct RenderOutput;
// Null when out of memory. Without a thread (none could be started) every put writes at once.
RenderOutput* render_output_open(RenderOutputWrite write, void* context);
// Waits for the frame before, then hands over a copy of `pixels` (640 x 480, `pitch` bytes a row)
// with its name (at most 4095 bytes). 0 ok; 1 when an earlier write failed: nothing more is written.
int render_output_put(RenderOutput* output, const uint32_t* pixels, int pitch, const char* name);
// Waits for the last write, ends the thread and frees the record (null is fine). 0 when every write
// succeeded; otherwise 1, with the first failed frame's name copied to failed_name when given.
int render_output_close(RenderOutput* output, char* failed_name, size_t size);

// The three jobs; each returns the process status (0 ok, 1 failure).
int render_frames(const RenderOptions* options);
int render_video(const RenderOptions* options);
int render_bench(const RenderOptions* options, FILE* out);
// One line per frame, then the closing `show` line (see render_digest_line). With check_path the
// lines are compared as they come: the first differing frame is reported, written as PNG to out_dir
// (when given) and the run ends with status 1.
int render_digest(const RenderOptions* options, FILE* out);

// XXH3 64-bit hash of the 640 x 480 framebuffer's 32-bit words as they lie in memory, row after row.
uint64_t render_frame_hash(const uint32_t* pixels, int pitch);
// "FRAME BEAT HASH": frame number, beat with three decimals, 16 lower-case hex digits. Returns the
// length written (snprintf's).
int render_digest_line(char* text, size_t size, int64_t frame, float beat, uint64_t hash);
// XXH3 64-bit hash of the frame hashes in order (as 64-bit words in memory): the `show` line's value.
uint64_t render_show_hash(const std::vector<uint64_t>& frame_hashes);

struct BenchSection {
    const char* name;
    int start_beat, end_beat;
};
enum { RENDER_SECTIONS = 8 };
// Section index (0 .. RENDER_SECTIONS - 1) of the show: a scene's name and its timeline row's beats.
BenchSection render_section(int index);

// Summary of a sample of frame times in milliseconds.
struct FrameStats {
    int frames;
    double median_ms, p99_ms, max_ms, fps;
};
FrameStats render_frame_stats(std::vector<double> ms);
