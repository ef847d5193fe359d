// The reference rasterizer: every covered pixel is found by evaluating the three edge functions
// afresh in 64 bits, every attribute is evaluated from its plane at that pixel, and every mode is
// computed channel by channel from its description. Slow on purpose; shares no drawing code with
// src/raster (only its table of drawn modes).
#include "raster/raster_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "raster/raster_internal.h"

namespace {

struct RefEdge {
    int64_t a, b, c;  // value at pixel (x, y) = c + a x + b y
    int code;
};

int64_t ref_fixed(float s) { return (int64_t)std::trunc((double)s * 32.0); }

RefEdge ref_edge(const MeshVertex* p, const MeshVertex* q) {
    int64_t xa = ref_fixed(p->sx), ya = ref_fixed(p->sy), xb = ref_fixed(q->sx), yb = ref_fixed(q->sy);
    RefEdge e;
    e.a = (ya - yb) * 64;
    e.b = (xb - xa) * 64;
    e.c = 2 * (xa * yb - xb * ya);
    e.code = 0;
    if (e.a >= 0) e.code += 8;
    if (e.b >= 0) e.code += 1;
    bool lowered = e.a < 0 || (e.a == 0 && e.b > 0);
    if (lowered) e.c -= 1;
    return e;
}

struct RefTri {
    const MeshVertex* v[3];
    RefEdge e[3];
    int64_t area;
    int min_x, min_y, max_x, max_y;
    float inv_area;
};

// 0 when drawn.
int ref_setup(RefTri* t, uint32_t flags) {
    for (int i = 0; i < 3; i++) t->e[i] = ref_edge(t->v[i], t->v[(i + 1) % 3]);
    t->area = t->e[0].c + t->e[1].c + t->e[2].c;
    if (t->area > -16 && t->area <= 0) return 1;
    if (t->area < 0) {
        if ((flags & 1) == 0) return 1;
        for (auto& e : t->e) {
            e.a = -e.a;
            e.b = -e.b;
            e.c = -e.c;
        }
        t->area = -t->area;
    }
    int px = 0, py = 0;
    for (int i = 0; i < 3; i++) {
        px |= (t->e[i].code & 1) << i;
        py |= ((t->e[i].code >> 3) & 1) << i;
    }
    if (px == 0 || px == 7 || py == 0 || py == 7) return 1;
    static const int first[7] = {-1, 0, 1, 0, 2, 2, 1};
    static const int second[7] = {-1, 1, 2, 2, 0, 1, 0};
    t->min_x = (int)std::trunc(t->v[first[px]]->sx);
    t->max_x = (int)std::trunc((double)t->v[second[px]]->sx + 1.0);
    t->min_y = (int)std::trunc(t->v[second[py]]->sy);
    t->max_y = (int)std::trunc((double)t->v[first[py]]->sy + 1.0);
    if (t->min_x >= 640 || t->max_x < 0 || t->min_y > 480 || t->max_y < 0) return 1;
    t->min_x = std::max(t->min_x, 0);
    t->min_y = std::max(t->min_y, 0);
    t->max_x = std::min(t->max_x, 639);
    t->max_y = std::min(t->max_y, 479);
    float fa = (float)t->area;
    t->inv_area = (float)(2048.0 / (double)fa);
    if (t->max_x - t->min_x < 1 || t->max_y - t->min_y < 1) return 1;
    for (int i = 0; i < 3; i++)  // corners out of reach of 64-bit edge arithmetic are refused
        if (std::fabs(t->v[i]->sx) >= 3.3e7f || std::fabs(t->v[i]->sy) >= 3.3e7f) return 1;
    return 0;
}

int32_t ref_to_int(double d) {  // truncation, kept modulo 2^32
    return (int32_t)(uint32_t)(uint64_t)(int64_t)std::trunc(d);
}

struct RefPlane {
    int32_t sx, sy, start;
};

// The plane through three corner values; edge k weights the corner opposite it.
RefPlane ref_plane(const RefTri* t, float a, float b, float c) {
    float w[3];
    w[0] = (float)((double)t->inv_area * a);  // vert0's value, weighted by edge1
    w[1] = (float)((double)t->inv_area * b);
    w[2] = (float)((double)t->inv_area * c);
    const int opposite[3] = {2, 0, 1};  // edge0 faces vert2, edge1 vert0, edge2 vert1
    double sx = 0, sy = 0, k = 0;
    for (int i = 0; i < 3; i++) {
        sx += (double)(float)t->e[i].a * (double)w[opposite[i]];
        sy += (double)(float)t->e[i].b * (double)w[opposite[i]];
        k += (double)(float)t->e[i].c * (double)w[opposite[i]];
    }
    RefPlane p;
    p.sx = ref_to_int(sx);
    p.sy = ref_to_int(sy);
    int64_t start = (int64_t)p.sx * t->min_x + (int64_t)p.sy * t->min_y + (int64_t)std::trunc(k) + 1024;
    p.start = (int32_t)(uint32_t)(uint64_t)start;
    return p;
}

// Interpolated fixed-point value of a plane at pixel (x, y), 32-bit wrap-around like the walk.
int32_t ref_at(const RefPlane& p, const RefTri* t, int x, int y) {
    uint32_t v = (uint32_t)p.start + (uint32_t)p.sx * (uint32_t)(x - t->min_x) +
                 (uint32_t)p.sy * (uint32_t)(y - t->min_y);
    return (int32_t)v;
}

int ref_floor11(int32_t v) { return (int)std::floor((double)v / 2048.0); }

uint32_t ref_byte(uint32_t c, int i) { return (c >> (8 * i)) & 0xFF; }

uint32_t ref_mul(uint32_t p, uint32_t q) {
    uint32_t out = 0;
    for (int i = 0; i < 4; i++) out |= ((ref_byte(p, i) * ref_byte(q, i)) / 256) << (8 * i);
    return out;
}

uint32_t ref_add(uint32_t p, uint32_t q) {
    uint32_t out = 0;
    for (int i = 0; i < 4; i++) out |= std::min(255u, ref_byte(p, i) + ref_byte(q, i)) << (8 * i);
    return out;
}

uint32_t ref_fetch(const Image* img, int x, int y) {
    x &= img->width_mask;
    y &= img->height_mask;
    return img->pixels[(y << img->width_shift) + x];
}

uint32_t ref_bilinear(const Image* img, int32_t u, int32_t v) {
    int fx = u & 2047, fy = v & 2047;
    int x0 = ref_floor11(u) & img->width_mask, y0 = ref_floor11(v) & img->height_mask;
    int x1 = (x0 + 1) & img->width_mask, y1 = (y0 + 1) & img->height_mask;
    int w00 = ((2047 - fx) * (2047 - fy)) >> 14;
    int w10 = ((2047 - fy) * fx) >> 14;
    int w11 = (fx * fy) >> 14;
    int w01 = 255 - w00 - w10 - w11;
    uint32_t t00 = img->pixels[(y0 << img->width_shift) + x0];
    uint32_t t10 = img->pixels[(y0 << img->width_shift) + x1];
    uint32_t t11 = img->pixels[(y1 << img->width_shift) + x1];
    uint32_t t01 = img->pixels[(y1 << img->width_shift) + x0];
    uint32_t out = 0;
    for (int i = 0; i < 4; i++) {
        uint32_t s = ref_byte(t00, i) * w00 + ref_byte(t10, i) * w10 + ref_byte(t11, i) * w11 +
                     ref_byte(t01, i) * w01;
        out |= (s >> 8) << (8 * i);
    }
    return out;
}

int ref_mip_level(const RefTri* t, const Image* tex) {
    int64_t s = 0;
    for (int i = 0; i < 3; i++) {
        const MeshVertex* a = t->v[i];
        const MeshVertex* b = t->v[(i + 1) % 3];
        int64_t ua = (int64_t)std::trunc((double)a->u * 32), va = (int64_t)std::trunc((double)a->v * 32);
        int64_t ub = (int64_t)std::trunc((double)b->u * 32), vb = (int64_t)std::trunc((double)b->v * 32);
        s = s - ((ua + ub) * ((va - vb) * 64) + (va + vb) * ((ub - ua) * 64));
    }
    float ratio = (float)((double)(float)std::llabs(s) / (double)(float)t->area);
    const float th[11] = {2.5f, 5.f, 10.f, 20.f, 40.f, 80.f, 160.f, 320.f, 640.f, 1280.f, 2560.f};
    int level = 11;
    for (int j = 0; j < 11; j++)
        if (th[j] > ratio) {
            level = j;
            break;
        }
    if (level >= tex->level_count) level = tex->level_count - 1;
    return level < 0 ? 0 : level;
}

bool ref_usable(const Image* i) { return i && i->pixels && i->width > 0 && i->height > 0; }

}  // namespace

int ref_setup_box(const MeshVertex* v0, const MeshVertex* v1, const MeshVertex* v2, uint32_t flags,
                  int* min_x, int* min_y, int* max_x, int* max_y) {
    RefTri t;
    t.v[0] = v0;
    t.v[1] = v1;
    t.v[2] = v2;
    int r = ref_setup(&t, flags);
    *min_x = t.min_x;
    *min_y = t.min_y;
    *max_x = t.max_x;
    *max_y = t.max_y;
    return r;
}

void ref_draw(RefBuffers* b, const MeshVertex* v0, const MeshVertex* v1, const MeshVertex* v2,
              uint32_t flags, uint32_t colour, const Image* tex, const Image* env, const Image* bump,
              uint32_t mode) {
    static const uint32_t drawn[39] = {0x0001, 0x0002, 0x0004, 0x0005, 0x0006, 0x0008, 0x0010, 0x0011,
                                       0x0012, 0x0014, 0x0015, 0x0016, 0x0018, 0x0019, 0x0021, 0x0022,
                                       0x0024, 0x0025, 0x0026, 0x0034, 0x0035, 0x0041, 0x0051, 0x0094,
                                       0x0095, 0x0096, 0x0098, 0x0104, 0x0114, 0x0214, 0x0414, 0x0C10,
                                       0x0C14, 0x1014, 0x1414, 0x2004, 0x2014, 0x4011, 0x4015};
    bool known = false;
    for (uint32_t m : drawn) known |= m == mode;
    if (!known) return;
    const bool uses_tex = (mode & (RENDER_TEXTURE | RENDER_PERSPECTIVE)) && mode != 0x0C10;
    if (uses_tex && !ref_usable(tex)) return;
    if ((mode & RENDER_ENVMAP) && !ref_usable(env)) return;
    if ((mode & (RENDER_BUMP_OFFSET | RENDER_DOT3))) {
        if (!ref_usable(bump)) return;
        if (mode != 0x0C10 && (bump->width < tex->width || bump->height < tex->height)) return;
    }
    RefTri t;
    t.v[0] = v0;
    t.v[1] = v1;
    t.v[2] = v2;
    if (ref_setup(&t, flags)) return;

    const MeshVertex* v[3] = {v0, v1, v2};
    auto plane_of = [&](auto value) { return ref_plane(&t, value(v[0]), value(v[1]), value(v[2])); };
    RefPlane depth = plane_of([](const MeshVertex* p) { return (float)(p->sz * 16383.0); });
    RefPlane chan[4];  // A, R, G, B
    for (int c = 0; c < 4; c++) {
        int sh = 24 - 8 * c;
        chan[c] = plane_of([sh](const MeshVertex* p) { return (float)(int32_t)((p->colour >> sh) & 255); });
    }
    const Image* uv_src = mode == 0x0C10 ? bump : tex;
    RefPlane pu{}, pv{}, pq{}, peu{}, pev{};
    if (uv_src) {
        float w = (float)uv_src->width, h = (float)uv_src->height;
        pu = plane_of([w](const MeshVertex* p) { return p->u * w; });
        pv = plane_of([h](const MeshVertex* p) { return p->v * h; });
    }
    if (mode & RENDER_PERSPECTIVE) {
        double w = (double)(float)tex->width, h = (double)(float)tex->height;
        auto q = [w](const MeshVertex* p) { return (float)(w / (double)p->sz); };
        pu = plane_of([&](const MeshVertex* p) { return (float)((double)p->u * w * (double)q(p)); });
        pv = plane_of([&](const MeshVertex* p) { return (float)((double)p->v * h * (double)q(p)); });
        pq = plane_of(q);
    }
    if (mode & RENDER_ENVMAP) {
        float w = (float)env->width, h = (float)env->height;
        peu = plane_of([w](const MeshVertex* p) { return p->env_u * w; });
        pev = plane_of([h](const MeshVertex* p) { return p->env_v * h; });
    }
    if (mode & RENDER_SHADOW) {
        peu = plane_of([](const MeshVertex* p) { return p->env_u * 640.0f; });
        pev = plane_of([](const MeshVertex* p) { return p->env_v * 480.0f; });
    }
    int level = 0;
    if (mode & RENDER_MIPMAP) level = ref_mip_level(&t, tex);

    for (int y = t.min_y; y <= t.max_y; y++) {
        for (int x = t.min_x; x <= t.max_x; x++) {
            bool inside = true;
            for (auto& e : t.e) inside = inside && e.c + e.a * x + e.b * y >= 0;
            if (!inside) continue;
            const int at = y * 640 + x;
            uint32_t& px = b->frame[at];
            const int d = ref_floor11(ref_at(depth, &t, x, y));
            if (mode == 0x0010) {
                if (d < b->shadow[at]) b->shadow[at] = d;
                continue;
            }
            const bool tested = mode & RENDER_DEPTH;
            const bool writes = tested && !(mode & (RENDER_ADD | RENDER_ALPHA));
            if (tested && !(d < b->depth[at])) continue;
            int cv[4];
            for (int c = 0; c < 4; c++) cv[c] = ref_floor11(ref_at(chan[c], &t, x, y));
            auto clamp8 = [](int c) { return (uint32_t)std::max(0, std::min(255, c)); };
            uint32_t clamped = clamp8(cv[0]) << 24 | clamp8(cv[1]) << 16 | clamp8(cv[2]) << 8 | clamp8(cv[3]);
            uint32_t wrapped = ((uint32_t)cv[0] & 255) << 24 | ((uint32_t)cv[1] & 255) << 16 |
                               ((uint32_t)cv[2] & 255) << 8 | ((uint32_t)cv[3] & 255);
            uint32_t raw = (uint32_t)cv[0] << 24 | (uint32_t)cv[1] << 16 | (uint32_t)cv[2] << 8 | (uint32_t)cv[3];
            const int U = ref_at(pu, &t, x, y), V = ref_at(pv, &t, x, y);
            const int tx = ref_floor11(U), ty = ref_floor11(V);
            const int EU = ref_floor11(ref_at(peu, &t, x, y)), EV = ref_floor11(ref_at(pev, &t, x, y));
            uint32_t texel = 0;
            if (mode & RENDER_PERSPECTIVE) {
                int64_t q = ref_at(pq, &t, x, y);
                if (q == 0) continue;
                if (mode & RENDER_BILINEAR) {
                    int64_t bu = (int64_t)ref_at(pu, &t, x, y) * 2048 / q;
                    int64_t bv = (int64_t)ref_at(pv, &t, x, y) * 2048 / q;
                    texel = ref_bilinear(tex, (int32_t)(bu & 0xFFFFFFFF), (int32_t)(bv & 0xFFFFFFFF));
                } else {
                    texel = ref_fetch(tex, (int)(((int64_t)U / q) & tex->width_mask),
                                      (int)(((int64_t)V / q) & tex->height_mask));
                }
            } else if (mode & RENDER_BILINEAR) {
                texel = ref_bilinear(tex, U, V);
            } else if (mode & RENDER_MIPMAP) {
                if (level == 0) {
                    texel = ref_fetch(tex, tx, ty);
                } else {
                    int side = std::min(tex->width, tex->height) >> level;
                    int col = (tx >> level) & (side - 1), row = (ty >> level) & (side - 1);
                    texel = tex->levels[level][row * side + col];
                }
            } else if (uses_tex) {
                texel = ref_fetch(tex, tx, ty);
            }
            uint32_t out = 0;
            switch (mode) {
            case 0x0001: case 0x0011: out = colour; break;
            case 0x0002: out = clamped; break;
            case 0x0012: out = wrapped; break;
            case 0x0021: out = ref_add(px, colour); break;
            case 0x0022: out = ref_add(px, clamped); break;
            case 0x0041: case 0x0051: out = ref_mul(px, colour); break;
            case 0x0004: case 0x0008: case 0x0014: case 0x0018: case 0x0094: case 0x0098:
            case 0x0104: case 0x0114: out = texel; break;
            case 0x0005: case 0x0015: case 0x0019: case 0x0095: out = ref_mul(texel, colour); break;
            case 0x0006: out = ref_mul(texel, clamped); break;
            case 0x0016: case 0x0096: out = ref_mul(texel, raw); break;
            case 0x0024: case 0x0034: out = ref_add(px, texel); break;
            case 0x0025: case 0x0035: out = ref_add(px, ref_mul(texel, colour)); break;
            case 0x0026: out = ref_add(px, ref_mul(texel, clamped)); break;
            case 0x0214:
                if (texel == 0xFFFF00FF) continue;
                out = texel;
                break;
            case 0x2004: case 0x2014: {
                uint32_t alpha = texel >> 24;
                for (int i = 0; i < 4; i++) {
                    uint32_t o = (alpha * ref_byte(colour, i)) >> 8;
                    uint32_t r = ((ref_byte(texel, i) * o) >> 8) + ((ref_byte(px, i) * (255 - o)) >> 8);
                    out |= std::min(255u, r) << (8 * i);
                }
                break;
            }
            case 0x0414: out = ref_add(texel, ref_fetch(env, EU, EV)); break;
            case 0x0C10: {
                uint32_t bt = ref_fetch(bump, tx, ty);
                out = ref_fetch(env, EU + (int)ref_byte(bt, 2), EV + (int)ref_byte(bt, 1));
                break;
            }
            case 0x0C14: {
                uint32_t bt = bump->pixels[((ty & tex->height_mask) << bump->width_shift) + (tx & tex->width_mask)];
                out = ref_add(texel, ref_fetch(env, EU + (int)ref_byte(bt, 2), EV + (int)ref_byte(bt, 1)));
                break;
            }
            case 0x1014: case 0x1414: {
                uint32_t n = bump->pixels[((ty & tex->height_mask) << bump->width_shift) + (tx & tex->width_mask)];
                // The light is packed from the raw channels: an out-of-range channel spills over.
                uint32_t l = (uint32_t)cv[1] << 16 | (uint32_t)cv[2] << 8 | (uint32_t)cv[3];
                int sum = 0;
                for (int i = 0; i < 3; i++) {
                    int nb = (int)(ref_byte(n, i) >> 1) - 64;
                    int lb = (int)(ref_byte(l, i) >> 1) - 64;
                    sum += nb * lb;
                }
                int k = mode == 0x1014 ? 5 : 4;
                int I = std::max(0, std::min(255, sum >> k));
                if (mode == 0x1014) {
                    for (int i = 0; i < 4; i++) out |= ((ref_byte(texel, i) * I) >> 8) << (8 * i);
                } else {
                    uint32_t a = (uint32_t)cv[0];
                    if (a > 255) a = 255;
                    uint32_t e = ref_fetch(env, EU, EV);
                    for (int i = 0; i < 4; i++) {
                        uint32_t r = ((((ref_byte(texel, i) * I) >> 8) * a) >> 8) + ((ref_byte(e, i) * I) >> 9);
                        out |= std::min(255u, r) << (8 * i);
                    }
                }
                break;
            }
            case 0x4011: case 0x4015: {
                int sx = std::max(0, std::min(639, EU)), sy = std::max(0, std::min(479, EV));
                bool shadowed = b->shadow[sy * 640 + sx] < d;
                uint32_t f = shadowed ? (mode == 0x4011 ? 0x40404040u : 0x20202020u) : 0xFFFFFFFFu;
                out = mode == 0x4011 ? ref_mul(f, colour) : ref_mul(texel, ref_mul(f, colour));
                break;
            }
            default: break;
            }
            if (writes) b->depth[at] = d;
            px = out;
        }
    }
}

void ref_capture(RefBuffers* b) {
    b->frame.assign(framebuffer.pixels, framebuffer.pixels + 640 * 480);
    b->depth.assign(depth_buffer->values, depth_buffer->values + 640 * 480);
    b->shadow.assign(depth_buffer2->values, depth_buffer2->values + 640 * 480);
}

void ref_restore(const RefBuffers* b) {
    memcpy(framebuffer.pixels, b->frame.data(), 640 * 480 * 4);
    memcpy(depth_buffer->values, b->depth.data(), 640 * 480 * 4);
    memcpy(depth_buffer2->values, b->shadow.data(), 640 * 480 * 4);
}

Image* test_image_random(TestRandom* r, int width, int height, int mipmapped) {
    Image* img = mipmapped ? image_new_mipmapped(width, height) : image_new(width, height);
    if (!img) return nullptr;
    for (int i = 0; i < width * height; i++) img->pixels[i] = test_random_u32(r);
    for (int k = 1; k < img->level_count; k++) {
        int side = std::min(width, height) >> k;
        for (int i = 0; i < side * side; i++) img->levels[k][i] = test_random_u32(r);
    }
    return img;
}

Image* test_image_filled(int width, int height, uint32_t texel) {
    Image* img = image_new(width, height);
    if (!img) return nullptr;
    for (int i = 0; i < width * height; i++) img->pixels[i] = texel;
    return img;
}

std::vector<uint32_t> test_drawn_modes(void) {
    std::vector<uint32_t> modes;
    for (int i = 0; i < raster_mode_count; i++) modes.push_back(raster_mode_table[i].mode);
    return modes;
}

MeshVertex test_vertex(float sx, float sy, float sz, float u, float v, float env_u, float env_v,
                       uint32_t colour) {
    MeshVertex m{};
    m.sx = sx;
    m.sy = sy;
    m.sz = sz;
    m.u = u;
    m.v = v;
    m.env_u = env_u;
    m.env_v = env_v;
    m.colour = colour;
    return m;
}
