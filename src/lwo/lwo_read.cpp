// The LWO2 reader: primitive reads, the top-level chunk loop and the layer, point, polygon and tag
// chunks. The file is read into memory first so that every read can be checked against the end of
// its chunk and of the file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx/path.h"
#include "lwo/lwo_internal.h"

int lwo_report_failures = 1;

// Every load may allocate this much plus a multiple of its file size; a file that asks for more
// (a small polygon fanned into a thousand triangles, many projected maps) is refused as hostile.
enum : size_t { LWO_BUDGET_BASE = size_t(32) << 20, LWO_BUDGET_PER_BYTE = 64 };

void lwo_reader_init(LwReader* r, const uint8_t* data, size_t size) {
    r->data = data;
    r->size = size;
    r->pos = 0;
    r->limit = size;
    r->status = LWO_OK;
    r->field_short = 0;
    r->budget = LWO_BUDGET_BASE + (size < LWO_MAX_FILE_SIZE ? size : LWO_MAX_FILE_SIZE) * LWO_BUDGET_PER_BYTE;
}

void* lwo_alloc(LwReader* r, size_t size) {
    if (size == 0) size = 1;
    if (size > r->budget) {
        r->status = LWO_NO_MEMORY;
        return nullptr;
    }
    void* p = calloc(1, size);
    if (!p) {
        r->status = LWO_NO_MEMORY;
        return nullptr;
    }
    r->budget -= size;
    return p;
}

// The n bytes at the position, or null (and a failed status) when they pass the limit.
static const uint8_t* lwo_take(LwReader* r, size_t n) {
    if (r->status != LWO_OK) return nullptr;
    if (r->pos > r->limit || r->limit - r->pos < n) {
        r->status = LWO_END_OF_FILE;
        r->field_short = 1;
        return nullptr;
    }
    const uint8_t* p = r->data + r->pos;
    r->pos += n;
    return p;
}

uint8_t lwo_read_u1(LwReader* r) {
    const uint8_t* p = lwo_take(r, 1);
    return p ? p[0] : 0;
}

uint16_t lwo_read_u2(LwReader* r) {
    const uint8_t* p = lwo_take(r, 2);
    return p ? uint16_t((p[0] << 8) | p[1]) : 0;
}

uint32_t lwo_read_u4(LwReader* r) {
    const uint8_t* p = lwo_take(r, 4);
    if (!p) return 0;
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

float lwo_read_f4(LwReader* r) {
    uint32_t bits = lwo_read_u4(r);
    float f;
    memcpy(&f, &bits, 4);
    return f;
}

uint32_t lwo_read_id4(LwReader* r) { return lwo_read_u4(r); }

uint32_t lwo_read_vx(LwReader* r) {
    if (r->status == LWO_OK && r->pos < r->limit && r->data[r->pos] == 0xFF)
        return lwo_read_u4(r) & 0x00FFFFFFu;
    return lwo_read_u2(r);
}

char* lwo_read_string(LwReader* r) {
    if (r->status != LWO_OK) return nullptr;
    const uint8_t* start = r->data + r->pos;
    const uint8_t* nul = r->pos < r->limit ? static_cast<const uint8_t*>(memchr(start, 0, r->limit - r->pos)) : nullptr;
    if (!nul) {
        r->status = LWO_END_OF_FILE;
        r->field_short = 1;
        return nullptr;
    }
    size_t length = size_t(nul - start);
    char* s = static_cast<char*>(lwo_alloc(r, length + 1));
    if (!s) return nullptr;
    memcpy(s, start, length);
    r->pos += length + 1;
    // The pad byte of an odd total may be missing at the very end of a chunk; that is harmless.
    if (((length + 1) & 1) && r->pos < r->limit) r->pos++;
    return s;
}

size_t lwo_padded_length(const char* s) {
    size_t n = strlen(s) + 1;
    return (n + 1) & ~size_t(1);
}

// ---------------------------------------------------------------------------------------------
// Layers and their chunks.

static LwLayer* lwo_layer_new(LwReader* r) {
    LwLayer* layer = static_cast<LwLayer*>(lwo_alloc(r, sizeof(LwLayer)));
    if (layer) layer->parent = -1;
    return layer;
}

static void lwo_free_polygons(LwPolygon* polygon) {
    while (polygon) {
        LwPolygon* next = polygon->next;
        free(polygon);
        polygon = next;
    }
}

LwPolygon* lwo_polygon_new(LwReader* r, uint16_t count) {
    size_t size = sizeof(LwPolygon) + size_t(count) * (2 * sizeof(int32_t) + sizeof(LwPolygonMapEntry*));
    LwPolygon* polygon = static_cast<LwPolygon*>(lwo_alloc(r, size));
    if (!polygon) return nullptr;
    uint8_t* base = reinterpret_cast<uint8_t*>(polygon + 1);
    polygon->corner_uvs = reinterpret_cast<LwPolygonMapEntry**>(base);
    polygon->corners = reinterpret_cast<int32_t*>(base + count * sizeof(LwPolygonMapEntry*));
    polygon->map_entries = polygon->corners + count;
    polygon->corner_count = count;
    for (uint16_t c = 0; c < count; c++) polygon->map_entries[c] = -1;
    return polygon;
}

// Releases what one layer owns; the shared lists only when owner is set.
static void lwo_free_layer(LwLayer* layer, int owner) {
    free(layer->name);
    free(layer->points);
    lwo_free_vertex_maps(layer->vertex_maps);
    lwo_free_polygon_maps(layer->polygon_maps);
    lwo_free_polygons(layer->polygons);
    free(layer->polygon_tags);
    lwo_free_clips(layer->clips);
    lwo_free_envelopes(layer->envelopes);
    if (owner) {
        for (uint32_t i = 0; i < layer->tag_count; i++) free(layer->tags[i]);
        free(layer->tags);
        lwo_free_surfaces(layer->surfaces);
    }
    free(layer);
}

void lwo_free(LwObject* object) {
    int owner = 1;
    while (object) {
        LwLayer* next = object->next;
        lwo_free_layer(object, owner);
        owner = 0;
        object = next;
    }
}

// Grows an array of element size to hold at least need elements; 0 on failure.
static int lwo_grow(LwReader* r, void** array, uint32_t* capacity, size_t need, size_t element) {
    if (need <= *capacity) return 1;
    size_t cap = *capacity ? *capacity : 8;
    while (cap < need) cap *= 2;
    if (cap > UINT32_MAX) return 0;
    size_t bytes = cap * element;
    if (bytes > r->budget) {
        r->status = LWO_NO_MEMORY;
        return 0;
    }
    void* grown = realloc(*array, bytes);
    if (!grown) {
        r->status = LWO_NO_MEMORY;
        return 0;
    }
    r->budget -= bytes;
    *array = grown;
    *capacity = uint32_t(cap);
    return 1;
}

static int lwo_read_layr(LwReader* r, LwLayer* layer) {
    layer->number = int16_t(lwo_read_u2(r));
    layer->layer_flags = int16_t(lwo_read_u2(r));
    for (int i = 0; i < 3; i++) layer->pivot[i] = lwo_read_f4(r);
    free(lwo_read_string(r));  // the layer is named after the file instead
    // The parent field is optional; without it the layer has none.
    if (r->status == LWO_OK && r->limit - r->pos >= 2) layer->parent = int16_t(lwo_read_u2(r));
    return r->status;
}

static int lwo_read_tags(LwReader* r, LwLayer* first) {
    while (r->pos < r->limit && r->status == LWO_OK) {
        char* tag = lwo_read_string(r);
        if (!tag) break;
        if (!lwo_grow(r, reinterpret_cast<void**>(&first->tags), &first->tag_capacity,
                      size_t(first->tag_count) + 1, sizeof(char*))) {
            free(tag);
            break;
        }
        first->tags[first->tag_count++] = tag;
    }
    return r->status;
}

static int lwo_read_pnts(LwReader* r, LwLayer* layer) {
    size_t count = (r->limit - r->pos) / 12;
    LwPoints* points = static_cast<LwPoints*>(lwo_alloc(r, sizeof(LwPoints) + count * 24));
    if (!points) return r->status;
    points->point_count = uint32_t(count);
    points->positions = reinterpret_cast<float*>(points + 1);
    points->point_normals = points->positions + count * 3;
    for (size_t i = 0; i < count * 3; i++) points->positions[i] = lwo_read_f4(r);
    // A second PNTS in the same layer replaces the first.
    free(layer->points);
    layer->points = points;
    return r->status;
}

static int lwo_read_bbox(LwReader* r, LwLayer* layer) {
    for (int i = 0; i < 3; i++) layer->bbox_min[i] = lwo_read_f4(r);
    for (int i = 0; i < 3; i++) layer->bbox_max[i] = lwo_read_f4(r);
    return r->status;
}

static int lwo_read_pols(LwReader* r, LwLayer* layer) {
    if (lwo_read_id4(r) != lwo_id("FACE")) return r->status;  // patches and others: skipped
    while (r->pos < r->limit && r->status == LWO_OK) {
        uint16_t count = lwo_read_u2(r) & 0x03FF;
        if (r->status != LWO_OK) break;
        // Each corner takes at least two bytes: refuse counts the chunk cannot hold before allocating.
        if (size_t(count) * 2 > r->limit - r->pos) return r->status = LWO_END_OF_FILE;
        LwPolygon* polygon = lwo_polygon_new(r, count);
        if (!polygon) break;
        for (uint16_t c = 0; c < count; c++) polygon->corners[c] = int32_t(lwo_read_vx(r));
        if (r->status != LWO_OK) {
            free(polygon);
            break;
        }
        if (layer->polygon_tail) layer->polygon_tail->next = polygon;
        else layer->polygons = polygon;
        layer->polygon_tail = polygon;
        layer->polygon_count++;
    }
    return r->status;
}

static int lwo_read_ptag(LwReader* r, LwLayer* layer) {
    uint32_t type = lwo_read_id4(r);
    size_t most = (r->limit - (r->pos < r->limit ? r->pos : r->limit)) / 4;
    if (!lwo_grow(r, reinterpret_cast<void**>(&layer->polygon_tags), &layer->polygon_tag_capacity,
                  size_t(layer->polygon_tag_count) + most, sizeof(LwPolygonTag)))
        return r->status;
    while (r->pos < r->limit && r->status == LWO_OK) {
        LwPolygonTag tag;
        tag.tag_type = type;
        tag.polygon_index = int32_t(lwo_read_vx(r));
        tag.tag_index = lwo_read_u2(r);
        if (r->status != LWO_OK || layer->polygon_tag_count >= layer->polygon_tag_capacity) break;
        layer->polygon_tags[layer->polygon_tag_count++] = tag;
    }
    return r->status;
}

static const char* lwo_result_text(int result) {
    switch (result) {
        case LWO_MISSING: return "a chunk comes before any layer";
        case LWO_WRONG_ID: return "unknown envelope span";
        case LWO_NO_MEMORY: return "out of memory or more than its size justifies";
        case LWO_END_OF_FILE: return "truncated or a chunk overruns its bounds";
        case LWO_READ_ERROR: return "read error";
        default: return "malformed";
    }
}

static void lwo_report(const char* name, const char* why, uint32_t id) {
    if (!lwo_report_failures) return;
    if (id) {
        char text[5];
        for (int i = 0; i < 4; i++) {
            char c = char((id >> (24 - 8 * i)) & 0xFF);
            text[i] = (c >= 32 && c < 127) ? c : '?';
        }
        text[4] = 0;
        fprintf(stderr, "lwo: %s: %s (chunk %s)\n", name, why, text);
    } else {
        fprintf(stderr, "lwo: %s: %s\n", name, why);
    }
}

LwObject* lwo_load_memory(const char* name, const uint8_t* data, size_t size) {
    if (!name) name = "";
    if (!data) return nullptr;
    LwReader reader;
    LwReader* r = &reader;
    lwo_reader_init(r, data, size);
    uint32_t form = lwo_read_id4(r);
    uint32_t form_length = lwo_read_u4(r);
    uint32_t type = lwo_read_id4(r);
    if (r->status != LWO_OK || form != lwo_id("FORM") || type != lwo_id("LWO2")) {
        lwo_report(name, "not an LWO2 file", 0);
        return nullptr;
    }

    LwLayer* first = nullptr;
    LwLayer* last = nullptr;
    LwLayer* current = nullptr;
    int first_awaits_layr = 0;  // TAGS made the first layer before any LAYR: the first LAYR takes it
    uint64_t consumed = 4;
    int result = LWO_OK;
    uint32_t id = 0;
    while (consumed < form_length) {
        r->limit = r->size;
        id = lwo_read_id4(r);
        uint32_t length = lwo_read_u4(r);
        if (r->status != LWO_OK) {
            result = r->status;
            break;
        }
        consumed += 8;
        if (length > r->size - r->pos) {
            result = LWO_END_OF_FILE;
            break;
        }
        size_t end = r->pos + length;
        r->limit = end;
        switch (id) {
            case lwo_id("LAYR"): {
                LwLayer* layer = nullptr;
                if (first_awaits_layr) {
                    layer = first;
                    first_awaits_layr = 0;
                } else if ((layer = lwo_layer_new(r)) != nullptr) {
                    if (last) last->next = layer;
                    else first = layer;
                    last = layer;
                }
                current = layer;
                result = layer ? lwo_read_layr(r, layer) : r->status;
                break;
            }
            case lwo_id("TAGS"):
                if (!first) {
                    first = last = current = lwo_layer_new(r);
                    first_awaits_layr = 1;
                }
                result = first ? lwo_read_tags(r, first) : r->status;
                break;
            case lwo_id("PNTS"): result = current ? lwo_read_pnts(r, current) : LWO_MISSING; break;
            case lwo_id("BBOX"): result = current ? lwo_read_bbox(r, current) : LWO_MISSING; break;
            case lwo_id("POLS"): result = current ? lwo_read_pols(r, current) : LWO_MISSING; break;
            case lwo_id("PTAG"): result = current ? lwo_read_ptag(r, current) : LWO_MISSING; break;
            case lwo_id("VMAP"): result = current ? lwo_read_vmap(r, current) : LWO_MISSING; break;
            case lwo_id("VMAD"): result = current ? lwo_read_vmad(r, current) : LWO_MISSING; break;
            case lwo_id("SURF"): result = current ? lwo_read_surf(r, first) : LWO_MISSING; break;
            case lwo_id("CLIP"): result = current ? lwo_read_clip(r, current) : LWO_MISSING; break;
            case lwo_id("ENVL"): result = current ? lwo_read_envl(r, current) : LWO_MISSING; break;
            default: break;  // skipped
        }
        if (result == LWO_OK && r->status != LWO_OK) result = r->status;
        if (result != LWO_OK) break;
        // Whatever the chunk's reader consumed, the next chunk starts where this one's length says.
        r->pos = end;
        consumed += length;
        if (length & 1) {
            if (r->pos < r->size) r->pos++;
            consumed += 1;
        }
    }
    if (result == LWO_OK && first) {
        r->limit = r->size;
        result = lwo_post_process(r, first, name);
        id = 0;
    }
    if (result != LWO_OK || !first) {
        lwo_report(name, first ? lwo_result_text(result) : "no layer", id);
        lwo_free(first);
        return nullptr;
    }
    return first;
}

LwObject* lwo_load(const char* file_name) {
    if (!file_name) return nullptr;
    FILE* f = path_fopen(file_name, "rb");
    if (!f) {
        lwo_report(file_name, "cannot open", 0);
        return nullptr;
    }
    size_t size = 0, capacity = 0;
    uint8_t* data = nullptr;
    int failed = 0;
    for (;;) {
        if (size == capacity) {
            if (capacity >= LWO_MAX_FILE_SIZE) {
                failed = 1;
                lwo_report(file_name, "larger than an object may be", 0);
                break;
            }
            size_t grown = capacity ? capacity * 2 : 65536;
            if (grown > LWO_MAX_FILE_SIZE) grown = LWO_MAX_FILE_SIZE;
            uint8_t* p = static_cast<uint8_t*>(realloc(data, grown));
            if (!p) {
                failed = 1;
                lwo_report(file_name, "out of memory", 0);
                break;
            }
            data = p;
            capacity = grown;
        }
        size_t n = fread(data + size, 1, capacity - size, f);
        size += n;
        if (n == 0) {
            if (ferror(f)) {
                failed = 1;
                lwo_report(file_name, "read error", 0);
            }
            break;
        }
    }
    fclose(f);
    LwObject* object = failed ? nullptr : lwo_load_memory(file_name, data ? data : reinterpret_cast<const uint8_t*>(""), size);
    free(data);
    return object;
}
