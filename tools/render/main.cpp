// quillet-render: the show's frames as PNG files, as a video, timed per section, or hashed.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "gfx/draw_queue.h"
#include "gfx/simd.h"
#include "render/render.h"

int main(int argc, char** argv) {
    RenderOptions options;
    if (render_parse_args(argc, argv, &options, stdout) != 0) return 2;
    if (simd_init_from_env("quillet-render", stderr) != 0) return 2;
    int drawing_threads = 1;  // read again when the show is opened
    if (draw_threads_from_env("quillet-render", stderr, &drawing_threads) != 0) return 2;
    if (options.mode == RENDER_TOOL_HELP) {
        render_print_usage(stdout);
        return 0;
    }
    // Output names are the caller's, taken from where the tool was started, not from the data folder.
    std::string out_dir, video_path, check_path;
    char cwd[4096];
    if (options.data_root && getcwd(cwd, sizeof cwd)) {
        auto absolute = [&](const char* name) { return name[0] == '/' ? std::string(name) : std::string(cwd) + "/" + name; };
        if (options.out_dir) options.out_dir = (out_dir = absolute(options.out_dir)).c_str();
        if (options.video_path) options.video_path = (video_path = absolute(options.video_path)).c_str();
        if (options.check_path) options.check_path = (check_path = absolute(options.check_path)).c_str();
    }
    if (options.data_root && chdir(options.data_root) != 0) {
        printf("quillet-render: cannot enter the data folder \"%s\"\n", options.data_root);
        return 1;
    }
    switch (options.mode) {
    case RENDER_TOOL_FRAMES: return render_frames(&options);
    case RENDER_TOOL_VIDEO: return render_video(&options);
    case RENDER_TOOL_DIGEST: return render_digest(&options, stdout);
    default: return render_bench(&options, stdout);
    }
}
