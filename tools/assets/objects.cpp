#include "assets/objects.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "scenes/scene_math.h"

namespace {

LwoSurface surface_make(const char* name, const char* image, int projection, int axis, float size) {
    LwoSurface s;
    s.name = name;
    s.colour[0] = s.colour[1] = s.colour[2] = 1.0f;
    s.diffuse = 1.0f;
    s.transparency = 0.0f;
    s.double_sided = 0;
    s.projection = projection;
    s.axis = axis;
    for (int i = 0; i < 3; i++) {
        s.centre[i] = 0.0f;
        s.size[i] = size;
    }
    s.image = image;
    return s;
}

void point_at(const LwoModel* m, int i, float out[3]) {
    for (int k = 0; k < 3; k++) out[k] = m->points[i * 3 + k];
}

// Adds the polygon so that its reader-computed normal has a positive dot product with the wanted
// direction, reversing the corner order when it does not.
int add_facing(LwoModel* m, std::vector<int> corners, const float want[3], int surface) {
    int index = lwo_add_polygon(m, corners, surface);
    float n[3];
    lwo_face_normal(m, index, n);
    if (n[0] * want[0] + n[1] * want[1] + n[2] * want[2] < 0.0f) {
        std::vector<int> reversed(corners.rbegin(), corners.rend());
        m->polygons[index] = reversed;
    }
    return index;
}

// Adds the polygon facing away from (sign 1) or towards (sign -1) the given centre.
int add_from_centre(LwoModel* m, const std::vector<int>& corners, const float centre[3], float sign,
                    int surface) {
    float c[3] = {0, 0, 0};
    for (int i : corners)
        for (int k = 0; k < 3; k++) c[k] += m->points[i * 3 + k] / corners.size();
    float want[3] = {(c[0] - centre[0]) * sign, (c[1] - centre[1]) * sign, (c[2] - centre[2]) * sign};
    return add_facing(m, corners, want, surface);
}

// A box of 24 points and 6 quads, one face after another in the order -x, -y, +z, +y, -z, +x.
// Each face's points run p0 = c - a/2 - b/2, p1 = c + a/2 - b/2, p2 = c + a/2 + b/2,
// p3 = c - a/2 + b/2 with a x b = the outward normal, so both the reader's fan (0 1 2, 0 2 3) and
// the voxel batcher's pair (0 1 3, 1 2 3) face outwards. Texture coordinates run 0..1 along a, b.
void build_box(LwoModel* m, float side, int with_uv) {
    static const float normals[6][3] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0, 1, 0}, {0, 0, -1}, {1, 0, 0}};
    static const float ups[6][3] = {{0, 1, 0}, {0, 0, 1}, {0, 1, 0}, {0, 0, -1}, {0, 1, 0}, {0, 1, 0}};
    float h = side * 0.5f;
    for (int f = 0; f < 6; f++) {
        const float* n = normals[f];
        const float* b = ups[f];
        float a[3] = {b[1] * n[2] - b[2] * n[1], b[2] * n[0] - b[0] * n[2], b[0] * n[1] - b[1] * n[0]};
        static const float corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        std::vector<int> quad;
        for (int k = 0; k < 4; k++) {
            float p[3];
            for (int i = 0; i < 3; i++) p[i] = (n[i] + a[i] * corner[k][0] + b[i] * corner[k][1]) * h;
            int idx = lwo_add_point(m, p[0], p[1], p[2]);
            quad.push_back(idx);
            if (with_uv) m->uvs.push_back({idx, (corner[k][0] + 1) * 0.5f, (corner[k][1] + 1) * 0.5f});
        }
        lwo_add_polygon(m, quad, 0);
    }
}

void build_cube(LwoModel* m) {
    m->surfaces.push_back(surface_make("cube", "cube_shadow.jpg", LWO_PROJ_UV, LWO_AXIS_Z, 1.0f));
    m->surfaces[0].uv_map = "cube_uv";
    m->uv_name = "cube_uv";
    build_box(m, 1.0f, 1);
}

void build_cube2(LwoModel* m) {
    m->surfaces.push_back(surface_make("cube2", "wood-284.jpg", LWO_PROJ_CUBIC, LWO_AXIS_Y, 3.0f));
    build_box(m, 3.0f, 0);
}

// Latitude-longitude sphere for the spherical projection, whose u comes from each point's position
// and jumps from 1 back to 0 behind the sphere (heading 0, at -z). So that no triangle spans that
// jump, the seam column is doubled, its two copies a millionth of a unit apart on either side of
// it; and each pole is one copy per slice, nudged a ten-thousandth of the radius towards its
// slice, so the pole triangles take their slice's u instead of all sharing u = 1.
// 2 * slices + (stacks - 1) * (slices + 1) points, 2 * slices * (stacks - 1) triangles.
void build_latlong_sphere(LwoModel* m, float radius, int stacks, int slices) {
    static const float origin[3] = {0, 0, 0};
    const float seam = 1e-6f, nudge = radius * 1e-4f;
    int top = (int)m->points.size() / 3;
    for (int j = 0; j < slices; j++) {
        float theta = kPi + 2.0f * kPi * (j + 0.5f) / slices;
        lwo_add_point(m, nudge * std::sin(theta), radius, nudge * std::cos(theta));
    }
    int rings = (int)m->points.size() / 3;
    for (int r = 1; r < stacks; r++) {
        float phi = kPi * r / stacks;
        for (int j = 0; j <= slices; j++) {
            float theta = kPi + 2.0f * kPi * j / slices;
            float x = radius * std::sin(phi) * std::sin(theta), z = radius * std::sin(phi) * std::cos(theta);
            if (j == 0) x = -seam;       // just past the seam: u near 0
            if (j == slices) x = seam;   // just before it: u near 1
            lwo_add_point(m, x, radius * std::cos(phi), z);
        }
    }
    int bottom = (int)m->points.size() / 3;
    for (int j = 0; j < slices; j++) {
        float theta = kPi + 2.0f * kPi * (j + 0.5f) / slices;
        lwo_add_point(m, nudge * std::sin(theta), -radius, nudge * std::cos(theta));
    }
    auto ring = [&](int r, int j) { return rings + (r - 1) * (slices + 1) + j; };
    for (int j = 0; j < slices; j++) add_from_centre(m, {top + j, ring(1, j), ring(1, j + 1)}, origin, 1, 0);
    for (int r = 1; r < stacks - 1; r++)
        for (int j = 0; j < slices; j++) {
            add_from_centre(m, {ring(r, j), ring(r + 1, j), ring(r + 1, j + 1)}, origin, 1, 0);
            add_from_centre(m, {ring(r, j), ring(r + 1, j + 1), ring(r, j + 1)}, origin, 1, 0);
        }
    for (int j = 0; j < slices; j++)
        add_from_centre(m, {bottom + j, ring(stacks - 1, j + 1), ring(stacks - 1, j)}, origin, 1, 0);
}

void build_sphere(LwoModel* m) {
    m->surfaces.push_back(surface_make("sphere", "wood-284.jpg", LWO_PROJ_SPHERICAL, LWO_AXIS_Y, 1.0f));
    build_latlong_sphere(m, 4.5f, 16, 32);
}

// Icosphere: an icosahedron whose triangles are split four ways per level, every new point pushed
// onto the sphere. Edge midpoints are shared through a lookup, so there are no duplicate points.
void build_sphere3(LwoModel* m) {
    m->surfaces.push_back(surface_make("sphere3", "metal.jpg", LWO_PROJ_UV, LWO_AXIS_Z, 1.0f));
    const float t = (1.0f + std::sqrt(5.0f)) * 0.5f;
    static const int faces[20][3] = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                     {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                     {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                     {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    const float base[12][3] = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                               {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    std::vector<float> pts;
    auto push = [&](float x, float y, float z) {
        float l = std::sqrt(x * x + y * y + z * z);
        pts.push_back(x / l);
        pts.push_back(y / l);
        pts.push_back(z / l);
        return (int)pts.size() / 3 - 1;
    };
    for (auto& p : base) push(p[0], p[1], p[2]);
    std::vector<std::array<int, 3>> tris;
    for (auto& f : faces) tris.push_back({f[0], f[1], f[2]});
    for (int level = 0; level < 4; level++) {
        std::map<std::pair<int, int>, int> mid;
        auto midpoint = [&](int a, int b) {
            std::pair<int, int> key = a < b ? std::make_pair(a, b) : std::make_pair(b, a);
            auto it = mid.find(key);
            if (it != mid.end()) return it->second;
            int i = push((pts[a * 3] + pts[b * 3]) * 0.5f, (pts[a * 3 + 1] + pts[b * 3 + 1]) * 0.5f,
                         (pts[a * 3 + 2] + pts[b * 3 + 2]) * 0.5f);
            mid[key] = i;
            return i;
        };
        std::vector<std::array<int, 3>> next;
        for (auto& tr : tris) {
            int ab = midpoint(tr[0], tr[1]), bc = midpoint(tr[1], tr[2]), ca = midpoint(tr[2], tr[0]);
            next.push_back({tr[0], ab, ca});
            next.push_back({tr[1], bc, ab});
            next.push_back({tr[2], ca, bc});
            next.push_back({ab, bc, ca});
        }
        tris.swap(next);
    }
    m->points = pts;
    static const float origin[3] = {0, 0, 0};
    for (auto& tr : tris) add_from_centre(m, {tr[0], tr[1], tr[2]}, origin, 1, 0);
}

// A band 0.15 wide standing on a circle of radius 2 whose height follows two slow waves; the seam
// column is doubled so that u runs 0..8 around without wrapping back.
void build_ribbon(LwoModel* m) {
    LwoSurface s = surface_make("ribbon", "ribbon.png", LWO_PROJ_UV, LWO_AXIS_Z, 1.0f);
    s.colour[0] = 1.0f;
    s.colour[1] = 0.9f;
    s.colour[2] = 0.75f;
    s.double_sided = 1;
    s.uv_map = "ribbon_uv";
    m->surfaces.push_back(s);
    m->uv_name = "ribbon_uv";
    const int segments = 256;
    for (int i = 0; i <= segments; i++) {
        float a = 2.0f * kPi * (i % segments) / segments;
        float x = 2.0f * std::cos(a), z = 2.0f * std::sin(a), y = 0.3f * std::sin(2.0f * a);
        int lo = lwo_add_point(m, x, y - 0.075f, z);
        int hi = lwo_add_point(m, x, y + 0.075f, z);
        float u = 8.0f * i / segments;
        m->uvs.push_back({lo, u, 0.0f});
        m->uvs.push_back({hi, u, 1.0f});
    }
    for (int i = 0; i < segments; i++) {
        int a = i * 2, b = (i + 1) * 2;
        float want[3];
        float mid = 2.0f * kPi * (i + 0.5f) / segments;
        want[0] = std::cos(mid);
        want[1] = 0.0f;
        want[2] = std::sin(mid);
        add_facing(m, {a, b, b + 1, a + 1}, want, 0);
    }
}

void build_plane(LwoModel* m) {
    m->surfaces.push_back(surface_make("plane", "wood-284.jpg", LWO_PROJ_PLANAR, LWO_AXIS_Y, 16.0f));
    const int n = 16;
    for (int i = 0; i <= n; i++)
        for (int j = 0; j <= n; j++) lwo_add_point(m, -64.0f + 8.0f * j, 0.0f, -64.0f + 8.0f * i);
    static const float up[3] = {0, 1, 0};
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            int a = i * (n + 1) + j;
            add_facing(m, {a, a + 1, a + n + 2, a + n + 1}, up, 0);
        }
}

// Hemisphere of radius 56 seen from inside: 16 rings from the horizon to the top, 32 segments,
// u twice around (the seam column doubled), v from 0 at the horizon to 1 at the top; the top ring's
// triangles each get their own apex point so that the apex u follows its segment.
void build_sky(LwoModel* m) {
    m->surfaces.push_back(surface_make("sky", "Smoke.png", LWO_PROJ_UV, LWO_AXIS_Z, 1.0f));
    m->surfaces[0].uv_map = "sky_uv";
    m->surfaces[0].double_sided = 1;
    m->uv_name = "sky_uv";
    const int rings = 16, segments = 32;
    const float r = 56.0f;
    for (int k = 0; k < rings; k++) {
        float phi = 0.5f * kPi * k / rings;
        for (int j = 0; j <= segments; j++) {
            float a = 2.0f * kPi * (j % segments) / segments;
            int p = lwo_add_point(m, r * std::cos(phi) * std::cos(a), r * std::sin(phi), r * std::cos(phi) * std::sin(a));
            m->uvs.push_back({p, 2.0f * j / segments, (float)k / rings});
        }
    }
    int apex0 = (int)m->points.size() / 3;
    for (int j = 0; j < segments; j++) {
        int p = lwo_add_point(m, 0.0f, r, 0.0f);
        m->uvs.push_back({p, 2.0f * (j + 0.5f) / segments, 1.0f});
    }
    static const float origin[3] = {0, 0, 0};
    auto at = [&](int k, int j) { return k * (segments + 1) + j; };
    for (int k = 0; k + 1 < rings; k++)
        for (int j = 0; j < segments; j++)
            add_from_centre(m, {at(k, j), at(k, j + 1), at(k + 1, j + 1), at(k + 1, j)}, origin, -1, 0);
    for (int j = 0; j < segments; j++)
        add_from_centre(m, {at(rings - 1, j), at(rings - 1, j + 1), apex0 + j}, origin, -1, 0);
}

const float pole_xz[5][2] = {{-32, -32}, {32, -32}, {-32, 32}, {32, 32}, {0, 0}};
const int pole_sides = 12;
const float pole_bottom = -20.0f, pole_top = 12.0f;

// Five upright open cylinders with a top cap each. With uv set, texture coordinates run around
// (u = side / 12) and along (v = 7 repeats over the height), and the polygon that closes each tube
// takes u = 1 instead of 0 at its last two corners through per-polygon entries, so the seam splits.
void build_cylinders(LwoModel* m, float radius, int uv) {
    for (int c = 0; c < 5; c++) {
        float cx = pole_xz[c][0], cz = pole_xz[c][1];
        int first = (int)m->points.size() / 3;
        // The cylindrical projection's u jumps from 1 back to 0 on the +z side of its axis, which
        // runs through the centre pole: without a map of its own, that pole's side 3 (straight
        // along +z) is doubled a millionth of a unit either side of the jump.
        const int seam_side = 3;
        int split_seam = !uv && cx == 0.0f && cz == 0.0f;
        for (int j = 0; j < pole_sides; j++) {
            float a = 2.0f * kPi * j / pole_sides;
            float x = cx + radius * std::cos(a), z = cz + radius * std::sin(a);
            if (split_seam && j == seam_side) x = 1e-6f;  // u near 1, for the side before it
            int lo = lwo_add_point(m, x, pole_bottom, z);
            int hi = lwo_add_point(m, x, pole_top, z);
            if (uv) {
                m->uvs.push_back({lo, (float)j / pole_sides, 0.0f});
                m->uvs.push_back({hi, (float)j / pole_sides, 7.0f});
            }
        }
        int seam_lo = -1;
        if (split_seam) {
            seam_lo = lwo_add_point(m, -1e-6f, pole_bottom, cz + radius);  // u near 0, for the side after it
            lwo_add_point(m, -1e-6f, pole_top, cz + radius);
        }
        for (int j = 0; j < pole_sides; j++) {
            int lo0 = first + j * 2, hi0 = lo0 + 1;
            if (j == seam_side && seam_lo >= 0) {
                lo0 = seam_lo;
                hi0 = seam_lo + 1;
            }
            int lo1 = first + ((j + 1) % pole_sides) * 2, hi1 = lo1 + 1;
            float mid = 2.0f * kPi * (j + 0.5f) / pole_sides;
            float want[3] = {std::cos(mid), 0.0f, std::sin(mid)};
            int poly = add_facing(m, {lo0, lo1, hi1, hi0}, want, 0);
            if (uv && j == pole_sides - 1) {
                m->polygon_uvs.push_back({lo1, poly, 1.0f, 0.0f});
                m->polygon_uvs.push_back({hi1, poly, 1.0f, 7.0f});
            }
        }
        std::vector<int> cap;
        for (int j = 0; j < pole_sides; j++) {
            float a = 2.0f * kPi * j / pole_sides;
            int p = lwo_add_point(m, cx + radius * std::cos(a), pole_top, cz + radius * std::sin(a));
            if (uv) m->uvs.push_back({p, 0.5f + 0.5f * std::cos(a), 0.5f + 0.5f * std::sin(a)});
            cap.push_back(p);
        }
        static const float up[3] = {0, 1, 0};
        add_facing(m, cap, up, 0);
    }
}

void build_poles(LwoModel* m) {
    m->surfaces.push_back(surface_make("poles", "wood-284.jpg", LWO_PROJ_UV, LWO_AXIS_Z, 1.0f));
    m->surfaces[0].uv_map = "poles_uv";
    m->uv_name = "poles_uv";
    build_cylinders(m, 0.7f, 1);
}

void build_poles_trans(LwoModel* m) {
    LwoSurface s = surface_make("poles_trans", "EnviGray.jpg", LWO_PROJ_CYLINDRICAL, LWO_AXIS_Y, 1.0f);
    s.colour[0] = 0.6f;
    s.colour[1] = 0.8f;
    s.colour[2] = 1.0f;
    s.transparency = 0.6f;
    s.double_sided = 1;
    // v runs once from the foot to the top of the poles.
    s.centre[1] = (pole_bottom + pole_top) * 0.5f;
    s.size[1] = pole_top - pole_bottom;
    m->surfaces.push_back(s);
    build_cylinders(m, 1.1f, 0);
}

}  // namespace

const ObjectSpec object_specs[] = {
    {"cube.lwo", build_cube},     {"cube2.lwo", build_cube2},   {"sphere.lwo", build_sphere},
    {"sphere3.lwo", build_sphere3}, {"ribbon.lwo", build_ribbon}, {"plane.lwo", build_plane},
    {"sky.lwo", build_sky},       {"poles.lwo", build_poles},   {"poles_trans.lwo", build_poles_trans},
};
const int object_spec_count = (int)(sizeof(object_specs) / sizeof(object_specs[0]));

void lwo_face_normal(const LwoModel* m, int polygon, float out[3]) {
    const std::vector<int>& c = m->polygons[polygon];
    out[0] = out[1] = out[2] = 0.0f;
    if (c.size() < 3) return;
    float p0[3], p1[3], pl[3];
    point_at(m, c[0], p0);
    point_at(m, c[1], p1);
    point_at(m, c.back(), pl);
    float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    float e2[3] = {pl[0] - p0[0], pl[1] - p0[1], pl[2] - p0[2]};
    float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    float l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (l > 0.0f)
        for (int k = 0; k < 3; k++) out[k] = n[k] / l;
}

void lwo_face_centroid(const LwoModel* m, int polygon, float out[3]) {
    const std::vector<int>& c = m->polygons[polygon];
    out[0] = out[1] = out[2] = 0.0f;
    for (int i : c)
        for (int k = 0; k < 3; k++) out[k] += m->points[i * 3 + k];
    for (int k = 0; k < 3; k++) out[k] /= (float)c.size();
}

int objects_write(const char* dir) {
    for (int i = 0; i < object_spec_count; i++) {
        LwoModel model;
        object_specs[i].build(&model);
        std::string path = std::string(dir) + "/" + object_specs[i].file;
        if (lwo_write_file(&model, path.c_str())) return 1;
    }
    return 0;
}
