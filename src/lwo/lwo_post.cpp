// Post-processing of a read object, layer by layer: face and point normals, polygon tags,
// projected maps, binding of texture-coordinate maps, triangulation, bounding box, opaque-first
// order and names. Names, points and polygons that do not exist are passed over; lookups are
// indexed so that hostile files cannot make the work quadratic.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lwo/lwo_internal.h"

namespace {

struct LwNamed {
    const char* name;
    void* item;
    uint32_t order;
};

// Sorted by name, earlier items first among equal names, so a search finds the first of a name.
struct LwNameIndex {
    LwNamed* entries;
    size_t count;
};

struct LwSurfaceBinding {
    const LwSurface* surface;
    LwVertexMap* uv_map;
    LwPolygonMap* polygon_map;
    int32_t uv_table;  // index into the point-to-entry tables, -1 without a uv map
    int32_t polygon_table;
};

struct LwEntryRun {
    LwPolygonMap* map;
    LwPolygonMapEntry** entries;  // sorted by polygon index, list order kept among equals
    size_t count;
};

}  // namespace

static int lwo_named_less(const LwNamed& a, const LwNamed& b) {
    int c = strcmp(a.name, b.name);
    return c != 0 ? c < 0 : a.order < b.order;
}

static LwNameIndex lwo_name_index(LwReader* r, LwNamed* entries, size_t count) {
    LwNameIndex index = {entries, count};
    std::sort(entries, entries + count, lwo_named_less);
    (void)r;
    return index;
}

static void* lwo_name_find(const LwNameIndex* index, const char* name) {
    if (!name || !index->count) return nullptr;
    LwNamed key = {name, nullptr, 0};
    LwNamed* at = std::lower_bound(index->entries, index->entries + index->count, key, lwo_named_less);
    if (at == index->entries + index->count || strcmp(at->name, name) != 0) return nullptr;
    return at->item;
}

template <typename T>
static LwNamed* lwo_collect_names(LwReader* r, T* list, size_t* count, char* T::*name_field) {
    size_t n = 0;
    for (T* item = list; item; item = item->next)
        if (item->*name_field) n++;
    LwNamed* entries = static_cast<LwNamed*>(lwo_alloc(r, n * sizeof(LwNamed)));
    if (!entries) return nullptr;
    size_t k = 0;
    for (T* item = list; item; item = item->next)
        if (item->*name_field) entries[k] = {item->*name_field, item, uint32_t(k)}, k++;
    *count = n;
    return entries;
}

static int lwo_polygon_in_range(const LwPolygon* polygon, uint32_t point_count) {
    for (uint16_t c = 0; c < polygon->corner_count; c++)
        if (uint32_t(polygon->corners[c]) >= point_count) return 0;
    return 1;
}

static const float* lwo_position(const LwPoints* points, int32_t index) {
    return points->positions + size_t(uint32_t(index)) * 3;
}

static void lwo_face_normals(LwLayer* layer) {
    const LwPoints* points = layer->points;
    uint32_t count = points ? points->point_count : 0;
    for (LwPolygon* p = layer->polygons; p; p = p->next) {
        if (p->corner_count <= 2 || !lwo_polygon_in_range(p, count)) continue;
        const float* p0 = lwo_position(points, p->corners[0]);
        const float* p1 = lwo_position(points, p->corners[1]);
        const float* pl = lwo_position(points, p->corners[p->corner_count - 1]);
        float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
        float e2[3] = {pl[0] - p0[0], pl[1] - p0[1], pl[2] - p0[2]};
        float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        float length = sqrtf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        p->area = length;
        if (length != 0.0f) n[0] /= length, n[1] /= length, n[2] /= length;
        p->normal[0] = n[0], p->normal[1] = n[1], p->normal[2] = n[2];
        p->plane_d = -(n[0] * p0[0] + n[1] * p0[1] + n[2] * p0[2]);
    }
}

static void lwo_point_normals(LwLayer* layer) {
    LwPoints* points = layer->points;
    if (!points) return;
    uint32_t count = points->point_count;
    float* normals = points->point_normals;
    memset(normals, 0, size_t(count) * 3 * sizeof(float));
    for (LwPolygon* p = layer->polygons; p; p = p->next) {
        if (!lwo_polygon_in_range(p, count)) continue;
        for (uint16_t c = 0; c < p->corner_count; c++) {
            float* n = normals + size_t(uint32_t(p->corners[c])) * 3;
            for (int i = 0; i < 3; i++) n[i] += p->normal[i] * p->area;
        }
    }
    for (uint32_t i = 0; i < count; i++) {
        float* n = normals + size_t(i) * 3;
        float length2 = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        if (length2 == 0.0f) continue;
        float length = sqrtf(length2);
        n[0] /= length, n[1] /= length, n[2] /= length;
    }
}

static int lwo_polygon_tags(LwReader* r, LwLayer* layer, LwPolygon** order, const LwNameIndex* surfaces) {
    // Each tag string names at most one surface: resolve them once.
    LwSurface** tag_surface = static_cast<LwSurface**>(lwo_alloc(r, size_t(layer->tag_count) * sizeof(LwSurface*)));
    if (!tag_surface) return r->status;
    for (uint32_t t = 0; t < layer->tag_count; t++)
        tag_surface[t] = static_cast<LwSurface*>(lwo_name_find(surfaces, layer->tags[t]));
    for (uint32_t i = 0; i < layer->polygon_tag_count; i++) {
        const LwPolygonTag* tag = &layer->polygon_tags[i];
        if (uint32_t(tag->polygon_index) >= layer->polygon_count || tag->tag_index >= layer->tag_count) continue;
        LwPolygon* polygon = order[tag->polygon_index];
        switch (tag->tag_type) {
            case lwo_id("SURF"): polygon->surface = tag_surface[tag->tag_index]; break;
            case lwo_id("SMGP"): polygon->smoothing_group = tag->tag_index; break;
            case lwo_id("PART"): polygon->part = tag->tag_index; break;
            default: break;
        }
    }
    free(tag_surface);
    return LWO_OK;
}

static const LwSurfaceBinding* lwo_binding_of(const LwSurfaceBinding* bindings, size_t count, const LwSurface* s) {
    const LwSurfaceBinding* at = std::lower_bound(bindings, bindings + count, s,
        [](const LwSurfaceBinding& b, const LwSurface* key) { return b.surface < key; });
    return (at != bindings + count && at->surface == s) ? at : nullptr;
}

// Steps that bind texture-coordinate maps to polygons and corners.
static int lwo_bind_maps(LwReader* r, LwLayer* layer) {
    LwPoints* points = layer->points;
    int bind_uv = points && layer->vertex_maps;
    int bind_polygon = layer->polygons && layer->polygon_maps;
    if (!bind_uv && !bind_polygon) return LWO_OK;

    size_t vertex_count = 0, polygon_count = 0, surface_count = 0;
    LwNamed* vertex_names = lwo_collect_names(r, layer->vertex_maps, &vertex_count, &LwVertexMap::map_name);
    LwNamed* polygon_names = lwo_collect_names(r, layer->polygon_maps, &polygon_count, &LwPolygonMap::map_name);
    for (LwSurface* s = layer->surfaces; s; s = s->next) surface_count++;
    LwSurfaceBinding* bindings = static_cast<LwSurfaceBinding*>(lwo_alloc(r, surface_count * sizeof(LwSurfaceBinding)));
    int32_t** uv_tables = static_cast<int32_t**>(lwo_alloc(r, surface_count * sizeof(int32_t*)));
    LwVertexMap** uv_maps = static_cast<LwVertexMap**>(lwo_alloc(r, surface_count * sizeof(LwVertexMap*)));
    LwEntryRun* runs = static_cast<LwEntryRun*>(lwo_alloc(r, surface_count * sizeof(LwEntryRun)));
    size_t uv_table_count = 0, run_count = 0;
    int result = LWO_OK;
    if (!vertex_names || !polygon_names || !bindings || !uv_tables || !uv_maps || !runs) {
        result = r->status;
        goto done;
    }
    {
        LwNameIndex vertex_index = lwo_name_index(r, vertex_names, vertex_count);
        LwNameIndex polygon_index = lwo_name_index(r, polygon_names, polygon_count);
        // What each surface binds: the first image map naming a vertex map, and the first naming a
        // polygon map. The same for every polygon of the surface.
        size_t k = 0;
        for (LwSurface* s = layer->surfaces; s; s = s->next, k++) {
            LwSurfaceBinding* b = &bindings[k];
            *b = {s, nullptr, nullptr, -1, -1};
            for (LwTextureBlock* block = s->blocks; block && bind_uv && !b->uv_map; block = block->next)
                if (block->image_map) b->uv_map = static_cast<LwVertexMap*>(lwo_name_find(&vertex_index, block->image_map->map_name));
            for (LwTextureBlock* block = s->blocks; block && bind_polygon && !b->polygon_map; block = block->next)
                if (block->image_map) b->polygon_map = static_cast<LwPolygonMap*>(lwo_name_find(&polygon_index, block->image_map->map_name));
        }
        std::sort(bindings, bindings + surface_count,
                  [](const LwSurfaceBinding& a, const LwSurfaceBinding& b) { return a.surface < b.surface; });

        // One point-to-first-entry table per distinct uv map, one sorted entry run per polygon map.
        uint32_t point_count = points ? points->point_count : 0;
        for (size_t i = 0; i < surface_count; i++) {
            LwSurfaceBinding* b = &bindings[i];
            if (b->uv_map) {
                size_t t = 0;
                while (t < uv_table_count && uv_maps[t] != b->uv_map) t++;
                if (t == uv_table_count) {
                    int32_t* table = static_cast<int32_t*>(lwo_alloc(r, size_t(point_count) * sizeof(int32_t)));
                    if (!table) {
                        result = r->status;
                        goto done;
                    }
                    for (uint32_t p = 0; p < point_count; p++) table[p] = -1;
                    for (uint32_t e = b->uv_map->entry_count; e-- > 0;) {
                        uint32_t p = uint32_t(b->uv_map->entry_points[e]);
                        if (p < point_count) table[p] = int32_t(e);
                    }
                    uv_maps[t] = b->uv_map;
                    uv_tables[t] = table;
                    uv_table_count++;
                }
                b->uv_table = int32_t(t);
            }
            if (b->polygon_map) {
                size_t t = 0;
                while (t < run_count && runs[t].map != b->polygon_map) t++;
                if (t == run_count) {
                    LwPolygonMap* map = b->polygon_map;
                    LwPolygonMapEntry** sorted = static_cast<LwPolygonMapEntry**>(lwo_alloc(r, size_t(map->entry_count) * sizeof(LwPolygonMapEntry*)));
                    if (!sorted) {
                        result = r->status;
                        goto done;
                    }
                    size_t n = 0;
                    for (LwPolygonMapEntry* e = map->entries; e && n < map->entry_count; e = e->next) sorted[n++] = e;
                    std::stable_sort(sorted, sorted + n, [](const LwPolygonMapEntry* a, const LwPolygonMapEntry* b) {
                        return a->polygon_index < b->polygon_index;
                    });
                    runs[t] = {map, sorted, n};
                    run_count++;
                }
                b->polygon_table = int32_t(t);
            }
        }

        // Distinct tables are few in real files; the linear searches above only run per surface.
        int32_t i = 0;
        for (LwPolygon* polygon = layer->polygons; polygon; polygon = polygon->next, i++) {
            if (!polygon->surface || !lwo_polygon_in_range(polygon, point_count)) continue;
            const LwSurfaceBinding* b = lwo_binding_of(bindings, surface_count, polygon->surface);
            if (!b) continue;
            if (b->uv_map) {
                polygon->uv_map = b->uv_map;
                const int32_t* table = uv_tables[b->uv_table];
                for (uint16_t c = 0; c < polygon->corner_count; c++)
                    polygon->map_entries[c] = table[uint32_t(polygon->corners[c])];
            }
            if (b->polygon_map) {
                const LwEntryRun* run = &runs[b->polygon_table];
                LwPolygonMapEntry** at = std::lower_bound(run->entries, run->entries + run->count, i,
                    [](const LwPolygonMapEntry* e, int32_t key) { return e->polygon_index < key; });
                int matched = 0;
                for (; at != run->entries + run->count && (*at)->polygon_index == i; ++at) {
                    for (uint16_t c = 0; c < polygon->corner_count; c++) {
                        if (polygon->corners[c] == (*at)->point) {
                            polygon->corner_uvs[c] = *at;
                            break;
                        }
                    }
                    if (++matched > polygon->corner_count) break;
                }
            }
        }
    }

    // The slots hold the last map of each type.
    if (bind_uv) {
        static const uint32_t slot_types[LWO_SLOT_COUNT] = {lwo_id("PICK"), lwo_id("WGHT"), lwo_id("MNVW"), lwo_id("TXUV"),
                                                            lwo_id("RGB "), lwo_id("RGBA"), lwo_id("MORF"), lwo_id("SPOT")};
        for (LwVertexMap* map = layer->vertex_maps; map; map = map->next)
            for (int s = 0; s < LWO_SLOT_COUNT; s++)
                if (map->map_type == slot_types[s]) points->maps[s] = map;
    }

done:
    if (uv_tables)
        for (size_t t = 0; t < uv_table_count; t++) free(uv_tables[t]);
    if (runs)
        for (size_t t = 0; t < run_count; t++) free(runs[t].entries);
    free(vertex_names);
    free(polygon_names);
    free(bindings);
    free(uv_tables);
    free(uv_maps);
    free(runs);
    return result;
}

// Fans every polygon of more than three corners into triangles in its place; polygons that name
// points the layer does not have are dropped here.
static int lwo_triangulate(LwReader* r, LwLayer* layer) {
    uint32_t point_count = layer->points ? layer->points->point_count : 0;
    LwPolygon* head = nullptr;
    LwPolygon** tail = &head;
    LwPolygon* polygon = layer->polygons;
    uint32_t number = 0;
    int result = LWO_OK;
    while (polygon) {
        LwPolygon* next = polygon->next;
        polygon->next = nullptr;
        if (result != LWO_OK || !lwo_polygon_in_range(polygon, point_count)) {
            free(polygon);
        } else if (polygon->corner_count <= 3) {
            *tail = polygon;
            tail = &polygon->next;
            number++;
        } else {
            for (uint16_t k = 1; k + 1 < polygon->corner_count && result == LWO_OK; k++) {
                LwPolygon* t = lwo_polygon_new(r, 3);
                if (!t) {
                    result = r->status;
                    break;
                }
                memcpy(t->normal, polygon->normal, sizeof t->normal);
                t->plane_d = polygon->plane_d;
                t->part = polygon->part;
                t->smoothing_group = polygon->smoothing_group;
                t->surface = polygon->surface;
                t->uv_map = polygon->uv_map;
                const uint16_t from[3] = {0, k, uint16_t(k + 1)};
                for (int c = 0; c < 3; c++) {
                    t->corners[c] = polygon->corners[from[c]];
                    t->map_entries[c] = polygon->map_entries[from[c]];
                    t->corner_uvs[c] = polygon->corner_uvs[from[c]];
                    if (t->corner_uvs[c]) t->corner_uvs[c]->polygon_index = int32_t(number);
                }
                *tail = t;
                tail = &t->next;
                number++;
            }
            free(polygon);
        }
        polygon = next;
    }
    layer->polygons = head;
    layer->polygon_count = number;
    layer->polygon_tail = nullptr;
    for (LwPolygon* p = head; p; p = p->next) layer->polygon_tail = p;
    return result;
}

static void lwo_bounding_box(LwLayer* layer) {
    const LwPoints* points = layer->points;
    if (!points || points->point_count == 0) return;
    for (int a = 0; a < 3; a++) layer->bbox_min[a] = layer->bbox_max[a] = points->positions[a];
    for (uint32_t i = 1; i < points->point_count; i++) {
        const float* p = points->positions + size_t(i) * 3;
        for (int a = 0; a < 3; a++) {
            if (p[a] < layer->bbox_min[a]) layer->bbox_min[a] = p[a];
            if (p[a] > layer->bbox_max[a]) layer->bbox_max[a] = p[a];
        }
    }
}

// Opaque polygons first, each group in its earlier order.
static void lwo_order_opaque_first(LwLayer* layer) {
    LwPolygon* opaque = nullptr;
    LwPolygon** opaque_tail = &opaque;
    LwPolygon* other = nullptr;
    LwPolygon** other_tail = &other;
    for (LwPolygon* p = layer->polygons; p;) {
        LwPolygon* next = p->next;
        p->next = nullptr;
        const LwSurface* s = p->surface;
        if (!s || (s->transparency.value == 0.0f && s->additive_transparency.value == 0.0f)) {
            *opaque_tail = p;
            opaque_tail = &p->next;
        } else {
            *other_tail = p;
            other_tail = &p->next;
        }
        p = next;
    }
    *opaque_tail = other;
    layer->polygons = opaque;
    layer->polygon_tail = nullptr;
    for (LwPolygon* p = opaque; p; p = p->next) layer->polygon_tail = p;
}

static int lwo_post_process_layer(LwReader* r, LwLayer* layer, const LwNameIndex* surfaces, const char* name,
                                  int position) {
    lwo_face_normals(layer);
    lwo_point_normals(layer);
    if (layer->polygon_tag_count) {
        LwPolygon** order = static_cast<LwPolygon**>(lwo_alloc(r, size_t(layer->polygon_count) * sizeof(LwPolygon*)));
        if (!order) return r->status;
        uint32_t i = 0;
        for (LwPolygon* p = layer->polygons; p && i < layer->polygon_count; p = p->next) order[i++] = p;
        int result = lwo_polygon_tags(r, layer, order, surfaces);
        free(order);
        if (result != LWO_OK) return result;
    }
    if (layer->surfaces) lwo_project_layer(r, layer);
    if (r->status != LWO_OK) return r->status;
    int result = lwo_bind_maps(r, layer);
    if (result != LWO_OK) return result;
    result = lwo_triangulate(r, layer);
    if (result != LWO_OK) return result;
    lwo_bounding_box(layer);
    lwo_order_opaque_first(layer);
    int length = snprintf(nullptr, 0, "%s:%d", name, position);
    layer->name = static_cast<char*>(lwo_alloc(r, size_t(length) + 1));
    if (!layer->name) return r->status;
    snprintf(layer->name, size_t(length) + 1, "%s:%d", name, position);
    return LWO_OK;
}

int lwo_post_process(LwReader* r, LwLayer* first, const char* name) {
    size_t surface_count = 0;
    LwNamed* surface_names = lwo_collect_names(r, first->surfaces, &surface_count, &LwSurface::surface_name);
    if (!surface_names) return r->status;
    LwNameIndex surfaces = lwo_name_index(r, surface_names, surface_count);

    int result = LWO_OK;
    int position = 0;
    for (LwLayer* layer = first; layer && result == LWO_OK; layer = layer->next, position++) {
        if (layer != first) {
            // Later layers work with the first layer's maps, clips and envelopes; their own are
            // released so that nothing is left without an owner.
            lwo_free_vertex_maps(layer->vertex_maps);
            lwo_free_polygon_maps(layer->polygon_maps);
            lwo_free_clips(layer->clips);
            lwo_free_envelopes(layer->envelopes);
            layer->vertex_maps = first->vertex_maps;
            layer->polygon_maps = first->polygon_maps;
            layer->clips = first->clips;
            layer->envelopes = first->envelopes;
            layer->tags = first->tags;
            layer->tag_count = first->tag_count;
            layer->surfaces = first->surfaces;
        }
        result = lwo_post_process_layer(r, layer, &surfaces, name, position);
        if (layer != first) {
            // Generated maps may have started the shared list.
            first->vertex_maps = layer->vertex_maps;
            layer->vertex_maps = nullptr;
            layer->polygon_maps = nullptr;
            layer->clips = nullptr;
            layer->envelopes = nullptr;
        }
    }
    free(surface_names);
    return result;
}
