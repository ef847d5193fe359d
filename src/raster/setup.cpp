// Triangle set-up: edge functions with the fill rule, rejection, the bounding box, the attribute
// planes and the mip level. The edge arithmetic is done in 64 bits: wherever the 32-bit values fit
// (every triangle with its corners on the screen) the results are the same, and a triangle reaching
// far outside the screen is still drawn exactly instead of from wrapped sums. Corners beyond about
// 33 million pixels, or not numbers at all, are refused.
#include <cmath>
#include <cstdint>

#include "raster/raster_internal.h"

static int setup_wide_edge(WideEdge* e, const MeshVertex* a, const MeshVertex* b) {
    int ok = 1;
    int64_t xa = setup_fixed(a->sx, &ok), ya = setup_fixed(a->sy, &ok);
    int64_t xb = setup_fixed(b->sx, &ok), yb = setup_fixed(b->sy, &ok);
    setup_edge_fixed(e, xa, ya, xb, yb);
    return ok;
}

static void setup_store_edge(EdgeFunction* edge, const WideEdge* e) {
    edge->step_x = (int32_t)(uint32_t)(uint64_t)e->step_x;
    edge->step_y = (int32_t)(uint32_t)(uint64_t)e->step_y;
    edge->constant = (int32_t)(uint32_t)(uint64_t)e->constant;
    edge->code = e->code;
}

void edge_setup(EdgeFunction* edge, const MeshVertex* a, const MeshVertex* b) {
    WideEdge e;
    setup_wide_edge(&e, a, b);
    setup_store_edge(edge, &e);
}

void edge_flip(EdgeFunction* edge) {
    edge->step_x = (int32_t)(0u - (uint32_t)edge->step_x);
    edge->step_y = (int32_t)(0u - (uint32_t)edge->step_y);
    edge->constant = (int32_t)(0u - (uint32_t)edge->constant);
}

// {min corner, max corner} for the patterns 1..6 of the edges' direction bits.
const int raster_box_corners[8][2] = {{0, 0}, {0, 1}, {1, 2}, {0, 2}, {2, 0}, {2, 1}, {1, 0}, {0, 0}};

int triangle_setup(RasterTriangle* t) {
    SetupShape shape;
    if (!setup_shape(t->vert0, t->vert1, t->vert2, t->flags, &shape)) return 1;
    const WideEdge* e = shape.e;
    setup_store_edge(&t->edge0, &e[0]);
    setup_store_edge(&t->edge1, &e[1]);
    setup_store_edge(&t->edge2, &e[2]);
    for (int i = 0; i < 3; i++) {
        t->wide_edge[i][0] = e[i].step_x;
        t->wide_edge[i][1] = e[i].step_y;
        t->wide_edge[i][2] = e[i].constant;
    }
    const int64_t area = shape.area;
    t->wide_area = area;
    t->area = area > INT32_MAX ? INT32_MAX : (int32_t)area;
    t->min_x = shape.box.min_x;
    t->min_y = shape.box.min_y;
    t->max_x = shape.box.max_x;
    t->max_y = shape.box.max_y;
    t->inv_area = setup_inv_area(area);
    return 0;
}

void gradient_basis(const RasterTriangle* t, GradientBasis* b) {
    // Each edge field goes through single precision, as the plane sums weight it.
    for (int i = 0; i < 3; i++) {
        b->step_x[i] = (double)(float)t->wide_edge[i][0];
        b->step_y[i] = (double)(float)t->wide_edge[i][1];
        b->constant[i] = (double)(float)t->wide_edge[i][2];
    }
    b->inv_area = (double)t->inv_area;
    b->min_x = t->min_x;
    b->min_y = t->min_y;
}

void gradient_setup(const RasterTriangle* t, Gradient* g, float value0, float value1, float value2) {
    GradientBasis b;
    gradient_basis(t, &b);
    gradient_from_basis(&b, g, value0, value1, value2);
}

void gradient_setup_int(const RasterTriangle* t, Gradient* g, int32_t value0, int32_t value1,
                        int32_t value2) {
    gradient_setup(t, g, (float)value0, (float)value1, (float)value2);
}

int mip_level_select(const RasterTriangle* t, const Texture* texture) {
    static const float thresholds[11] = {2.5f, 5, 10, 20, 40, 80, 160, 320, 640, 1280, 2560};
    const MeshVertex* v[3] = {t->vert0, t->vert1, t->vert2};
    int64_t s = 0;
    for (int i = 0; i < 3; i++) {
        const MeshVertex* a = v[i];
        const MeshVertex* b = v[(i + 1) % 3];
        int ok = 1;
        int64_t ua = setup_fixed(a->u, &ok), va = setup_fixed(a->v, &ok);
        int64_t ub = setup_fixed(b->u, &ok), vb = setup_fixed(b->v, &ok);
        if (!ok) return 0;
        s -= (ua + ub) * ((va - vb) * 64) + (va + vb) * ((ub - ua) * 64);
    }
    if (s < 0) s = -s;
    float ratio = (float)((double)(float)s / (double)(float)t->wide_area);
    int level = 11;
    for (int j = 0; j < 11; j++)
        if (thresholds[j] > ratio) {
            level = j;
            break;
        }
    if (level >= texture->level_count) level = texture->level_count - 1;
    if (level < 0) level = 0;  // no levels at all: the full-size image
    return level;
}
