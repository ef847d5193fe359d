// Object-to-mesh conversion, with and without splitting vertices at texture seams.
#include "lwo/lwo_mesh.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "lwo/lwo_internal.h"

static uint32_t lwo_channel(float c) {
    // Out-of-range values (and NaN) from a damaged file would not fit a byte.
    if (!(c > 0.0f)) return 0;
    if (c >= 1.0f) return 255;
    return uint32_t(int32_t(c * 255.0f));
}

uint32_t lwo_surface_colour(const LwSurface* surface) {
    if (!surface) return 0xFFFFFFFFu;
    return 0xFF000000u | lwo_channel(surface->colour[0]) << 16 | lwo_channel(surface->colour[1]) << 8 |
           lwo_channel(surface->colour[2]);
}

// Triangles the first layer yields; reports polygons of more than three corners when asked.
static int64_t lwo_triangle_count(const LwLayer* layer, int report) {
    int64_t count = 0;
    for (const LwPolygon* p = layer->polygons; p; p = p->next) {
        if (p->corner_count == 3) count += 1;
        else if (p->corner_count > 3) {
            count += p->corner_count - 1;
            if (report) printf("error\n");
        }
    }
    return count;
}

// Mesh with the layer's points as its first vertices; null when the counts are refused.
static Mesh* lwo_mesh_with_points(const LwLayer* layer, int64_t capacity, int64_t triangles) {
    if (capacity > INT32_MAX || triangles > INT32_MAX) return nullptr;
    Mesh* mesh = mesh_create(int32_t(capacity), int32_t(triangles));
    if (!mesh) return nullptr;
    const LwPoints* points = layer->points;
    uint32_t count = points ? points->point_count : 0;
    for (uint32_t i = 0; i < count; i++) {
        MeshVertex* v = &mesh->vertices[i];
        const float* p = points->positions + size_t(i) * 3;
        const float* n = points->point_normals + size_t(i) * 3;
        v->px = p[0], v->py = p[1], v->pz = p[2];
        mesh->normals[i].normal = Vec3{n[0], n[1], n[2]};
    }
    return mesh;
}

static void lwo_fill_triangle(MeshTriangle* t, const LwPolygon* p) {
    t->vertex_a = p->corners[0];
    t->vertex_b = p->corners[1];
    t->vertex_c = p->corners[2];
    t->normal = Vec3{p->normal[0], p->normal[1], p->normal[2]};
    t->plane_d = p->plane_d;
    t->base_colour = lwo_surface_colour(p->surface);
    t->visible = 1;
}

Mesh* mesh_from_lwo_object(LwObject* object) {
    if (!object) return nullptr;
    uint32_t point_count = object->points ? object->points->point_count : 0;
    Mesh* mesh = lwo_mesh_with_points(object, point_count, lwo_triangle_count(object, 0));
    if (!mesh) {
        lwo_free(object);
        return nullptr;
    }
    const LwVertexMap* txuv = object->points ? object->points->maps[LWO_SLOT_TXUV] : nullptr;
    if (txuv) {
        for (uint32_t k = 0; k < txuv->entry_count; k++) {
            uint32_t point = uint32_t(txuv->entry_points[k]);
            if (point >= point_count) continue;
            mesh->vertices[point].u = lwo_map_value(txuv, k, 0);
            mesh->vertices[point].v = lwo_map_value(txuv, k, 1);
        }
    }
    int32_t next = 0;
    for (const LwPolygon* p = object->polygons; p; p = p->next) {
        if (p->corner_count > 3) {
            printf("error\n");
            continue;
        }
        if (p->corner_count != 3 || next >= mesh->triangle_count) continue;
        lwo_fill_triangle(&mesh->triangles[next++], p);
        for (int c = 0; c < 3; c++) {
            MeshVertex* v = &mesh->vertices[p->corners[c]];
            if (p->uv_map && p->map_entries[c] >= 0) {
                v->u = lwo_map_value(p->uv_map, uint32_t(p->map_entries[c]), 0);
                v->v = 1.0f - lwo_map_value(p->uv_map, uint32_t(p->map_entries[c]), 1);
            }
            if (p->corner_uvs[c]) {
                v->u = p->corner_uvs[c]->values[0];
                v->v = 1.0f - p->corner_uvs[c]->values[1];
            }
        }
    }
    lwo_free(object);
    return mesh;
}

Mesh* mesh_from_lwo(const char* file_name) { return mesh_from_lwo_object(lwo_load(file_name)); }

// ---------------------------------------------------------------------------------------------
// The split lookup: per-polygon map entry (by identity) to the vertex made for it. Open addressing
// with linear probing, doubled when an insertion finds it full.

struct LwSplitLookup {
    size_t capacity;
    size_t count;
    const LwPolygonMapEntry** keys;
    int32_t* values;
};

static LwSplitLookup* lwo_lookup_new(size_t capacity) {
    if (capacity == 0) capacity = 1;
    size_t bytes = sizeof(LwSplitLookup) + capacity * (sizeof(LwPolygonMapEntry*) + sizeof(int32_t));
    LwSplitLookup* lookup = static_cast<LwSplitLookup*>(calloc(1, bytes));
    if (!lookup) return nullptr;
    lookup->capacity = capacity;
    lookup->keys = reinterpret_cast<const LwPolygonMapEntry**>(lookup + 1);
    lookup->values = reinterpret_cast<int32_t*>(lookup->keys + capacity);
    return lookup;
}

static size_t lwo_lookup_hash(const LwPolygonMapEntry* key, size_t capacity) {
    uint64_t h = uint64_t(reinterpret_cast<uintptr_t>(key)) * 0x9E3779B97F4A7C15ull;
    return size_t(h >> 17) % capacity;
}

static int32_t lwo_lookup_find(const LwSplitLookup* lookup, const LwPolygonMapEntry* key) {
    size_t i = lwo_lookup_hash(key, lookup->capacity);
    for (size_t n = 0; n < lookup->capacity; n++) {
        if (!lookup->keys[i]) return -1;
        if (lookup->keys[i] == key) return lookup->values[i];
        i = i + 1 == lookup->capacity ? 0 : i + 1;
    }
    return -1;
}

static void lwo_lookup_put(LwSplitLookup* lookup, const LwPolygonMapEntry* key, int32_t value) {
    size_t i = lwo_lookup_hash(key, lookup->capacity);
    while (lookup->keys[i]) i = i + 1 == lookup->capacity ? 0 : i + 1;
    lookup->keys[i] = key;
    lookup->values[i] = value;
    lookup->count++;
}

// 0 when the lookup was full and could not grow.
static int lwo_lookup_insert(LwSplitLookup** lookup, const LwPolygonMapEntry* key, int32_t value) {
    if ((*lookup)->count == (*lookup)->capacity) {
        LwSplitLookup* grown = lwo_lookup_new((*lookup)->capacity * 2);
        if (!grown) return 0;
        for (size_t i = 0; i < (*lookup)->capacity; i++)
            if ((*lookup)->keys[i]) lwo_lookup_put(grown, (*lookup)->keys[i], (*lookup)->values[i]);
        free(*lookup);
        *lookup = grown;
    }
    lwo_lookup_put(*lookup, key, value);
    return 1;
}

Mesh* mesh_from_lwo_object_split(LwObject* object) {
    if (!object) return nullptr;
    uint32_t point_count = object->points ? object->points->point_count : 0;
    int64_t triangles = lwo_triangle_count(object, 1);
    int64_t capacity = int64_t(point_count) + 3 * triangles;
    LwSplitLookup* lookup = capacity > 0 && capacity <= INT32_MAX ? lwo_lookup_new(size_t(capacity)) : nullptr;
    if (!lookup) {
        lwo_free(object);
        return nullptr;
    }
    Mesh* mesh = lwo_mesh_with_points(object, capacity, triangles);
    if (!mesh) {
        free(lookup);
        lwo_free(object);
        return nullptr;
    }
    mesh->vertex_count = int32_t(point_count);

    const float threshold = 0.001953125f;
    int32_t next = 0;
    for (LwPolygon* p = object->polygons; p; p = p->next) {
        if (p->uv_map) {
            for (uint16_t c = 0; c < p->corner_count; c++) {
                MeshVertex* v = &mesh->vertices[p->corners[c]];
                if (p->map_entries[c] >= 0) {
                    v->u = lwo_map_value(p->uv_map, uint32_t(p->map_entries[c]), 0);
                    v->v = 1.0f - lwo_map_value(p->uv_map, uint32_t(p->map_entries[c]), 1);
                }
                const LwPolygonMapEntry* e = p->corner_uvs[c];
                if (!e) continue;
                float u = e->values[0], w = 1.0f - e->values[1];
                if (fabsf(v->u - u) < threshold && fabsf(v->v - w) < threshold) continue;
                int32_t found = lwo_lookup_find(lookup, e);
                if (found >= 0) {
                    p->corners[c] = found;
                    continue;
                }
                // Corners of polygons that make no triangle are not counted in the capacity.
                if (mesh->vertex_count >= capacity) continue;
                int32_t index = mesh->vertex_count++;
                mesh->vertices[index] = *v;
                mesh->vertices[index].u = u;
                mesh->vertices[index].v = w;
                mesh->normals[index] = mesh->normals[p->corners[c]];
                p->corners[c] = index;
                if (!lwo_lookup_insert(&lookup, e, index)) printf("darn\n");
            }
        }
        if (p->corner_count == 3 && next < mesh->triangle_count) lwo_fill_triangle(&mesh->triangles[next++], p);
        else if (p->corner_count > 3) printf("error\n");
    }
    free(lookup);
    lwo_free(object);
    return mesh;
}

Mesh* mesh_from_lwo_split(const char* file_name) { return mesh_from_lwo_object_split(lwo_load(file_name)); }
