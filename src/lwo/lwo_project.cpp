// Texture coordinates generated from point positions for surfaces whose image map asks for a
// planar, cubic, cylindrical or spherical projection. Each generated map is an ordinary 2D "TXUV"
// vertex map with one entry per point, and the image map is renamed to it so that the binding of
// maps to polygons attaches it like a stored one.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lwo/lwo_internal.h"

static const float LWO_TWO_PI = 6.283185f;
static const float LWO_PI = 3.1415925f;
static const float LWO_HALF_PI = 1.5707963f;

struct LwProjection {
    float centre[3];
    float size[3];  // sizes of 0 count as 1 so that no coordinate divides by zero
    uint16_t axis;
};

static void lwo_projection_coordinates(const LwProjection* pr, const float* p, float* d, float* n) {
    for (int i = 0; i < 3; i++) {
        d[i] = p[i] - pr->centre[i];
        n[i] = d[i] / pr->size[i] + 0.5f;
    }
}

// u, v of the planar projection along axis (1 X, 2 Y, 3 Z) from the normalised coordinates.
static void lwo_planar(uint16_t axis, const float* n, float* uv) {
    switch (axis) {
        case 1: uv[0] = n[2], uv[1] = n[1]; break;
        case 2: uv[0] = n[0], uv[1] = n[2]; break;
        case 3: uv[0] = n[0], uv[1] = n[1]; break;
        default: uv[0] = 0.0f, uv[1] = 0.0f; break;
    }
}

// Dominant axis of a normal: ties go to X over Y and to Z over either.
static uint16_t lwo_dominant_axis(const float* n) {
    float ax = fabsf(n[0]), ay = fabsf(n[1]), az = fabsf(n[2]);
    if (ay > ax) return ay > az ? 2 : 3;
    return ax > az ? 1 : 3;
}

static float lwo_heading(float a, float b) {
    float h;
    if (a == 0.0f && b == 0.0f) return 0.0f;
    if (b != 0.0f) h = -atan2f(a, b);
    else h = a >= 0.0f ? -LWO_HALF_PI : LWO_HALF_PI;
    if (h < 0.0f) h += LWO_TWO_PI;
    return h;
}

static void lwo_heading_pitch(float x, float y, float z, float* heading, float* pitch) {
    if (x == 0.0f && z == 0.0f) {
        *heading = 0.0f;
        *pitch = y == 0.0f ? 0.0f : (y < 0.0f ? -LWO_HALF_PI : LWO_HALF_PI);
        return;
    }
    *heading = -atan2f(x, z);
    if (*heading < 0.0f) *heading += LWO_TWO_PI;
    float r = sqrtf(x * x + z * z);
    if (r != 0.0f) *pitch = atanf(y / r);
    else *pitch = y < 0.0f ? -LWO_HALF_PI : LWO_HALF_PI;
}

// Wraps v up into [0, 1) by whole turns; values too large for stepping (or infinite) are reduced
// at once so that a hostile coordinate cannot stall the load.
static float lwo_wrap_up(float v) {
    if (v >= -1024.0f) {
        while (v < 0.0f) v += 1.0f;
        return v;
    }
    if (!std::isfinite(v)) return 0.0f;
    return v - floorf(v);
}

static void lwo_cylindrical(const LwProjection* pr, const float* d, const float* n, float* uv) {
    float heading, v;
    switch (pr->axis) {
        case 1:
            // About X: the heading turns in the y-z plane, as the spherical projection of this axis does.
            heading = lwo_heading(-d[2], -d[1]);
            v = n[0];
            break;
        case 2:
            heading = lwo_heading(-d[0], d[2]);
            v = n[1];
            break;
        default:
            heading = lwo_heading(-d[0], -d[1]);
            v = n[2];
            break;
    }
    uv[0] = 1.0f - heading / LWO_TWO_PI;
    uv[1] = lwo_wrap_up(v);
}

static void lwo_spherical(const LwProjection* pr, const float* d, float* uv) {
    float heading, pitch;
    switch (pr->axis) {
        case 1: lwo_heading_pitch(-d[2], -d[0], -d[1], &heading, &pitch); break;
        case 2: lwo_heading_pitch(-d[0], -d[1], -d[2], &heading, &pitch); break;
        default: lwo_heading_pitch(-d[0], d[2], -d[1], &heading, &pitch); break;
    }
    uv[0] = 1.0f - heading / LWO_TWO_PI;
    uv[1] = 0.5f - pitch / LWO_PI;
}

// Coordinates of one point; normal picks the cubic projection's face.
static void lwo_project_point(uint16_t projection, const LwProjection* pr, const float* p,
                              const float* normal, float* uv) {
    float d[3], n[3];
    lwo_projection_coordinates(pr, p, d, n);
    switch (projection) {
        case LWO_PROJECT_PLANAR: lwo_planar(pr->axis, n, uv); break;
        case LWO_PROJECT_CUBIC: lwo_planar(lwo_dominant_axis(normal), n, uv); break;
        case LWO_PROJECT_CYLINDRICAL: lwo_cylindrical(pr, d, n, uv); break;
        default: lwo_spherical(pr, d, uv); break;
    }
}

static int lwo_polygon_in_range(const LwPolygon* polygon, uint32_t point_count) {
    for (uint16_t c = 0; c < polygon->corner_count; c++)
        if (uint32_t(polygon->corners[c]) >= point_count) return 0;
    return 1;
}

// Appends the map at *tail, the end of a list of existing maps; 0 when it cannot be allocated.
static int lwo_generate(LwReader* r, LwLayer* layer, LwVertexMap** tail, int existing, LwImageMap* image_map,
                        const LwTextureTransform* t) {
    static const char* const names[] = {"planar_uv_%d", "cubic_uv_%d", "cylinder_uv_%d", "sphere_uv_%d"};
    const LwPoints* points = layer->points;
    uint32_t count = points ? points->point_count : 0;
    LwProjection pr;
    pr.axis = image_map->axis;
    for (int i = 0; i < 3; i++) {
        pr.centre[i] = t ? t->centre[i] : 0.0f;
        pr.size[i] = (t && t->size[i] != 0.0f) ? t->size[i] : 1.0f;
    }

    char name[32];
    snprintf(name, sizeof name, names[image_map->projection - 1], existing + 1);

    LwVertexMap* map = static_cast<LwVertexMap*>(lwo_alloc(r, sizeof(LwVertexMap)));
    char* map_name = static_cast<char*>(lwo_alloc(r, strlen(name) + 1));
    char* block_name = static_cast<char*>(lwo_alloc(r, strlen(name) + 1));
    int32_t* entry_points = static_cast<int32_t*>(lwo_alloc(r, size_t(count) * sizeof(int32_t)));
    float* entry_values = static_cast<float*>(lwo_alloc(r, size_t(count) * 2 * sizeof(float)));
    if (!map || !map_name || !block_name || !entry_points || !entry_values) {
        free(map), free(map_name), free(block_name), free(entry_points), free(entry_values);
        return 0;
    }
    strcpy(map_name, name);
    strcpy(block_name, name);
    map->map_type = lwo_id("TXUV");
    map->dimension = 2;
    map->map_name = map_name;
    map->entry_count = count;
    map->entry_points = entry_points;
    map->entry_values = entry_values;

    // Every point first gets the projection at its own position (the cubic face chosen by the
    // point's normal), so that points no polygon reaches still have sensible coordinates.
    uint16_t projection = image_map->projection;
    for (uint32_t i = 0; i < count; i++) {
        entry_points[i] = int32_t(i);
        lwo_project_point(projection, &pr, points->positions + size_t(i) * 3,
                          points->point_normals + size_t(i) * 3, entry_values + size_t(i) * 2);
    }
    if (projection != LWO_PROJECT_PLANAR) {
        for (const LwPolygon* polygon = layer->polygons; polygon; polygon = polygon->next) {
            if (polygon->corner_count < 3 || !lwo_polygon_in_range(polygon, count)) continue;
            const float* p0 = points->positions + size_t(polygon->corners[0]) * 3;
            const float* p1 = points->positions + size_t(polygon->corners[1]) * 3;
            const float* p2 = points->positions + size_t(polygon->corners[2]) * 3;
            float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
            float e2[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
            float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                          e1[0] * e2[1] - e1[1] * e2[0]};
            float length = sqrtf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            if (length != 0.0f) n[0] /= length, n[1] /= length, n[2] /= length;
            for (int c = 0; c < 3; c++) {
                uint32_t point = uint32_t(polygon->corners[c]);
                lwo_project_point(projection, &pr, points->positions + size_t(point) * 3, n,
                                  entry_values + size_t(point) * 2);
            }
        }
    }
    *tail = map;
    free(image_map->map_name);
    image_map->map_name = block_name;
    return 1;
}

void lwo_project_layer(LwReader* r, LwLayer* layer) {
    int existing = 0;
    LwVertexMap** tail = &layer->vertex_maps;
    while (*tail) {
        tail = &(*tail)->next;
        existing++;
    }
    // Running out of memory here fails the load: the budget is only exhausted by hostile files.
    for (LwSurface* surface = layer->surfaces; surface && r->status == LWO_OK; surface = surface->next) {
        for (LwTextureBlock* block = surface->blocks; block; block = block->next) {
            LwImageMap* m = block->image_map;
            if (!m || m->projection < LWO_PROJECT_PLANAR || m->projection > LWO_PROJECT_SPHERICAL) continue;
            if (lwo_generate(r, layer, tail, existing, m, block->transform)) {
                tail = &(*tail)->next;
                existing++;
            }
            break;
        }
    }
}
