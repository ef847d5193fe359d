#include "gfx/path.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <cstring>

static int path_exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

// Finds the one entry of folder dir whose name equals component ignoring case; 0 when found,
// 1 when there is none or more than one.
static int path_match_component(const char* dir, const char* component, char* found, size_t size) {
    DIR* d = opendir(dir[0] ? dir : ".");
    if (!d) return 1;
    int matches = 0;
    while (struct dirent* entry = readdir(d)) {
        if (strcasecmp(entry->d_name, component) != 0) continue;
        if (++matches == 1) snprintf(found, size, "%s", entry->d_name);
    }
    closedir(d);
    return matches == 1 ? 0 : 1;
}

int path_resolve(const char* name, char* out, size_t out_size) {
    if (!name || !out || out_size == 0) return 1;
    size_t length = strlen(name);
    if (length + 1 > out_size) {
        out[0] = 0;
        return 1;
    }
    for (size_t i = 0; i <= length; i++) out[i] = name[i] == '\\' ? '/' : name[i];
    if (path_exists(out)) return 0;

    // Rebuild the name one component at a time, replacing each missing one by its unique
    // case-insensitive match.
    char spelled[4096];
    if (length + 1 > sizeof spelled) return 1;
    memcpy(spelled, out, length + 1);
    char built[4096] = "";
    size_t built_length = 0;
    const char* cursor = spelled;
    if (*cursor == '/') {
        built[built_length++] = '/';
        built[built_length] = 0;
        while (*cursor == '/') cursor++;
    }
    while (*cursor) {
        const char* slash = strchr(cursor, '/');
        size_t part_length = slash ? (size_t)(slash - cursor) : strlen(cursor);
        char part[256];
        if (part_length >= sizeof part) return 1;
        memcpy(part, cursor, part_length);
        part[part_length] = 0;
        char candidate[4096];
        snprintf(candidate, sizeof candidate, "%s%s", built, part);
        char found[256];
        const char* use = part;
        if (!path_exists(candidate)) {
            if (path_match_component(built, part, found, sizeof found) != 0) return 1;
            use = found;
        }
        size_t use_length = strlen(use);
        if (built_length + use_length + 2 > sizeof built) return 1;
        memcpy(built + built_length, use, use_length);
        built_length += use_length;
        cursor += part_length;
        if (*cursor == '/') {
            built[built_length++] = '/';
            while (*cursor == '/') cursor++;
        }
        built[built_length] = 0;
    }
    if (built_length + 1 > out_size) return 1;
    memcpy(out, built, built_length + 1);
    return 0;
}

FILE* path_fopen(const char* name, const char* mode) {
    char resolved[4096];
    if (path_resolve(name, resolved, sizeof resolved) != 0) return nullptr;
    return fopen(resolved, mode);
}

int path_find_program(const char* name, char* out, size_t out_size) {
    const char* path = getenv("PATH");
    if (!path || !name || !*name) return 1;
    while (*path) {
        const char* colon = strchr(path, ':');
        size_t length = colon ? (size_t)(colon - path) : strlen(path);
        if (length > 0 && (size_t)snprintf(out, out_size, "%.*s/%s", (int)length, path, name) < out_size &&
            access(out, X_OK) == 0)
            return 0;
        path += length;
        if (*path == ':') path++;
    }
    return 1;
}
