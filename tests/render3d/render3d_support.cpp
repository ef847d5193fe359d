#include "render3d_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gfx/display.h"

const uint32_t cube_face_colours[6] = {0xFFFF4040u, 0xFF40FF40u, 0xFF4040FFu,
                                       0xFFFFFF40u, 0xFF40FFFFu, 0xFFFF40FFu};

Mesh* test_cube(void) {
    // Each face: outward axis and two in-plane axes; corners wound clockwise seen from outside
    // in a right-handed frame, which the look-at form shows as clockwise on screen.
    static const float axes[6][3][3] = {
        {{1, 0, 0}, {0, 0, 1}, {0, 1, 0}},  {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}},
        {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, -1}},
        {{0, 0, 1}, {-1, 0, 0}, {0, 1, 0}}, {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}},
    };
    Mesh* m = mesh_create(24, 12);
    if (!m) return nullptr;
    static const float corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int f = 0; f < 6; f++) {
        const float* n = axes[f][0];
        const float* a = axes[f][1];
        const float* b = axes[f][2];
        for (int k = 0; k < 4; k++) {
            MeshVertex* v = &m->vertices[f * 4 + k];
            float s = corner[k][0], t = corner[k][1];
            v->px = n[0] + a[0] * s + b[0] * t;
            v->py = n[1] + a[1] * s + b[1] * t;
            v->pz = n[2] + a[2] * s + b[2] * t;
            v->u = (s + 1) * 0.5f;
            v->v = (t + 1) * 0.5f;
        }
        for (int h = 0; h < 2; h++) {
            MeshTriangle* t = &m->triangles[f * 2 + h];
            t->vertex_a = f * 4;
            t->vertex_b = f * 4 + (h ? 3 : 2);
            t->vertex_c = f * 4 + (h ? 2 : 1);
            t->base_colour = cube_face_colours[f];
            t->visible = 1;
        }
    }
    mesh_compute_normals(m);
    return m;
}

enum { GUARD = 4096, PIXELS = SCREEN_WIDTH * SCREEN_HEIGHT };
static const uint32_t GUARD_WORD = 0xDEADBEEFu;

void guarded_clear(GuardedScreen* g, uint32_t clear) {
    std::fill(g->frame.begin() + GUARD, g->frame.begin() + GUARD + PIXELS, clear);
    std::fill(g->depth.begin() + GUARD, g->depth.begin() + GUARD + PIXELS, 0x7FFFFFFF);
    std::fill(g->shadow.begin() + GUARD, g->shadow.begin() + GUARD + PIXELS, 0x7FFFFFFF);
}

void guarded_begin(GuardedScreen* g, uint32_t clear) {
    g->frame.assign(PIXELS + 2 * GUARD, GUARD_WORD);
    g->depth.assign(PIXELS + 2 * GUARD, (int32_t)GUARD_WORD);
    g->shadow.assign(PIXELS + 2 * GUARD, (int32_t)GUARD_WORD);
    guarded_clear(g, clear);
    g->saved_pixels = framebuffer.pixels;
    g->saved_depth = depth_buffer->values;
    g->saved_shadow = depth_buffer2->values;
    framebuffer.pixels = g->frame.data() + GUARD;
    depth_buffer->values = g->depth.data() + GUARD;
    depth_buffer2->values = g->shadow.data() + GUARD;
}

uint32_t* guarded_pixels(GuardedScreen* g) { return g->frame.data() + GUARD; }

bool guarded_intact(const GuardedScreen* g) {
    for (int i = 0; i < GUARD; i++) {
        if (g->frame[i] != GUARD_WORD || g->frame[GUARD + PIXELS + i] != GUARD_WORD) return false;
        if ((uint32_t)g->depth[i] != GUARD_WORD || (uint32_t)g->depth[GUARD + PIXELS + i] != GUARD_WORD)
            return false;
        if ((uint32_t)g->shadow[i] != GUARD_WORD || (uint32_t)g->shadow[GUARD + PIXELS + i] != GUARD_WORD)
            return false;
    }
    return true;
}

void guarded_end(GuardedScreen* g) {
    framebuffer.pixels = g->saved_pixels;
    depth_buffer->values = g->saved_depth;
    depth_buffer2->values = g->saved_shadow;
}

namespace {
struct P2 {
    double x, y;
};
double cross(P2 o, P2 a, P2 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }
}  // namespace

std::vector<uint8_t> reference_silhouette(const Camera* camera, const Matrix* object,
                                          const Vec3* points, int count, double margin) {
    // Independent double-precision chain: object, then view, then projection and viewport.
    std::vector<P2> pts;
    for (int i = 0; i < count; i++) {
        double p[4] = {points[i].x, points[i].y, points[i].z, 1}, q[4], r[4];
        const Matrix* ms[3] = {object, &camera->view, &camera->screen};
        for (const Matrix* m : ms) {
            for (int c = 0; c < 4; c++) {
                q[c] = 0;
                for (int k = 0; k < 4; k++) q[c] += p[k] * m->m[k * 4 + c];
            }
            std::copy(q, q + 4, p);
        }
        std::copy(p, p + 4, r);
        pts.push_back(P2{r[0] / r[3], r[1] / r[3]});
    }
    std::sort(pts.begin(), pts.end(), [](P2 a, P2 b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    std::vector<P2> hull(2 * pts.size());
    size_t k = 0;
    for (size_t i = 0; i < pts.size(); i++) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) k--;
        hull[k++] = pts[i];
    }
    for (size_t i = pts.size() - 1, t = k + 1; i-- > 0;) {
        while (k >= t && cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) k--;
        hull[k++] = pts[i];
    }
    hull.resize(k - 1);
    std::vector<uint8_t> out(PIXELS, 0);
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        for (int x = 0; x < SCREEN_WIDTH; x++) {
            P2 p = {(double)x, (double)y};
            double nearest = 1e30;
            bool inside = true;
            for (size_t i = 0; i < hull.size(); i++) {
                P2 a = hull[i], b = hull[(i + 1) % hull.size()];
                double len = std::hypot(b.x - a.x, b.y - a.y);
                double d = cross(a, b, p) / len;  // > 0 inside for a counter-clockwise hull
                if (d < 0) inside = false;
                nearest = std::min(nearest, std::fabs(d));
            }
            out[y * SCREEN_WIDTH + x] = nearest <= margin ? 2 : inside ? 1 : 0;
        }
    }
    return out;
}
