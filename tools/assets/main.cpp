// quillet-assets: writes the stand-in data set (textures, objects, soundtrack) under DIR/data.
#include <cstdio>
#include <cstring>
#include <string>

#include "assets/dataset.h"
#include "assets/soundtrack.h"

static const char* const usage =
    "usage: quillet-assets --out DIR [--wav FILE] [--contact-sheet FILE.png] [--previews DIR] [--no-soundtrack] [--verbose]\n";

static void print_help(void) {
    fputs(usage, stdout);
    fputs("  --out DIR                 write the data set to DIR/data/\n"
          "  --wav FILE                also write the soundtrack as a WAV file\n"
          "  --contact-sheet FILE.png  write one picture of every texture with its name\n"
          "  --previews DIR            write a four-view picture of every object to DIR\n"
          "  --no-soundtrack           skip the music (textures and objects only)\n"
          "  --verbose                 print the time each file takes on stderr\n"
          "  --help                    show this text\n",
          stdout);
}

int main(int argc, char** argv) {
    const char* out = nullptr;
    const char* wav = nullptr;
    const char* sheet = nullptr;
    const char* previews = nullptr;
    int music = 1, verbose = 0;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        const char** target = nullptr;
        if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
            print_help();
            return 0;
        } else if (!strcmp(a, "--no-soundtrack")) {
            music = 0;
            continue;
        } else if (!strcmp(a, "--verbose")) {
            verbose = 1;
            continue;
        } else if (!strcmp(a, "--out")) {
            target = &out;
        } else if (!strcmp(a, "--wav")) {
            target = &wav;
        } else if (!strcmp(a, "--contact-sheet")) {
            target = &sheet;
        } else if (!strcmp(a, "--previews")) {
            target = &previews;
        } else {
            fprintf(stderr, "quillet-assets: unknown option '%s' (see --help)\n", a);
            return 2;
        }
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            fprintf(stderr, "quillet-assets: option %s needs a value (see --help)\n", a);
            return 2;
        }
        *target = argv[++i];
    }
    if (!out) {
        fprintf(stderr, "quillet-assets: --out DIR is required (see --help)\n");
        return 2;
    }
    if (dataset_write(out, sheet, previews, verbose)) return 1;
    if (music) {
        std::string mp3 = std::string(out) + "/data/Quillet_Demo_prev_105bpm.mp3";
        if (soundtrack_write(mp3.c_str(), wav)) return 1;
    }
    return 0;
}
