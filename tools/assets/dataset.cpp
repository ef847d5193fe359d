#include "assets/dataset.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "assets/objects.h"
#include "assets/preview.h"
#include "assets/text.h"
#include "assets/textures.h"

int dataset_make_dir(const char* path) {
    std::string p = path;
    for (size_t i = 1; i <= p.size(); i++) {
        if (i < p.size() && p[i] != '/') continue;
        std::string part = p.substr(0, i);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return 1;
    }
    struct stat st;
    return (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) ? 0 : 1;
}

static double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int dataset_write(const char* dir, const char* contact_sheet, const char* preview_dir, int verbose) {
    auto all = std::chrono::steady_clock::now();
    std::string data = std::string(dir) + "/data";
    if (dataset_make_dir(data.c_str())) {
        fprintf(stderr, "quillet-assets: cannot create %s\n", data.c_str());
        return 1;
    }
    if (text_init()) return 1;
    ContactSheet* sheet = contact_sheet ? contact_sheet_new(TEXTURE_COUNT) : nullptr;
    if (contact_sheet && !sheet) {
        fprintf(stderr, "quillet-assets: out of memory\n");
        text_done();
        return 1;
    }
    int result = 0;
    for (int i = 0; i < TEXTURE_COUNT && result == 0; i++) {
        auto start = std::chrono::steady_clock::now();
        Canvas* canvas = texture_paint(i);
        if (!canvas) {
            fprintf(stderr, "quillet-assets: cannot paint %s\n", texture_specs[i].file);
            result = 1;
            break;
        }
        result = texture_save(i, canvas, data.c_str());
        if (sheet) contact_sheet_add(sheet, i, canvas, texture_specs[i].file);
        canvas_free(canvas);
        if (verbose) fprintf(stderr, "%-26s %7.1f ms\n", texture_specs[i].file, seconds_since(start) * 1000.0);
    }
    auto objects = std::chrono::steady_clock::now();
    if (result == 0) result = objects_write(data.c_str());
    if (verbose) fprintf(stderr, "%-26s %7.1f ms\n", "nine objects", seconds_since(objects) * 1000.0);
    if (result == 0 && preview_dir) {
        if (dataset_make_dir(preview_dir)) {
            fprintf(stderr, "quillet-assets: cannot create %s\n", preview_dir);
            result = 1;
        }
        for (int i = 0; i < object_spec_count && result == 0; i++) {
            LwoModel model;
            object_specs[i].build(&model);
            std::string path = std::string(preview_dir) + "/" + object_specs[i].file + ".png";
            result = object_preview_write(&model, path.c_str());
        }
    }
    if (result == 0 && sheet) result = contact_sheet_write(sheet, contact_sheet);
    contact_sheet_free(sheet);
    text_done();
    if (verbose) fprintf(stderr, "%-26s %7.1f ms\n", "textures and objects", seconds_since(all) * 1000.0);
    return result;
}
