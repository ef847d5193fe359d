#include "assets/lwo_writer.h"

#include <cstdio>
#include <cstring>

namespace {

// Big-endian byte buffer with a stack of open chunks whose lengths are patched when they close.
struct IffBuffer {
    std::vector<uint8_t>* out;
    struct Open {
        size_t length_at;
        int wide;  // 4-byte length (chunk) or 2-byte length (sub-chunk)
    };
    std::vector<Open> open;
};

void put_u1(IffBuffer* b, unsigned v) { b->out->push_back((uint8_t)v); }
void put_u2(IffBuffer* b, unsigned v) {
    put_u1(b, (v >> 8) & 255);
    put_u1(b, v & 255);
}
void put_u4(IffBuffer* b, uint32_t v) {
    put_u2(b, v >> 16);
    put_u2(b, v & 0xFFFF);
}
void put_f4(IffBuffer* b, float f) {
    uint32_t v;
    memcpy(&v, &f, 4);
    put_u4(b, v);
}
void put_id4(IffBuffer* b, const char* id) {
    for (int i = 0; i < 4; i++) put_u1(b, (uint8_t)id[i]);
}
// Variable-length index: two bytes below 0xFF00, otherwise 0xFF and three bytes.
void put_vx(IffBuffer* b, uint32_t v) {
    if (v < 0xFF00) put_u2(b, v);
    else put_u4(b, 0xFF000000u | v);
}
// NUL-terminated string padded to an even length.
void put_s0(IffBuffer* b, const std::string& s) {
    for (char c : s) put_u1(b, (uint8_t)c);
    put_u1(b, 0);
    if ((s.size() + 1) & 1) put_u1(b, 0);
}

void begin(IffBuffer* b, const char* id, int wide) {
    put_id4(b, id);
    b->open.push_back({b->out->size(), wide});
    if (wide) put_u4(b, 0);
    else put_u2(b, 0);
}

void end(IffBuffer* b) {
    IffBuffer::Open o = b->open.back();
    b->open.pop_back();
    size_t start = o.length_at + (o.wide ? 4 : 2);
    size_t length = b->out->size() - start;
    uint8_t* p = b->out->data() + o.length_at;
    if (o.wide) {
        p[0] = (uint8_t)(length >> 24);
        p[1] = (uint8_t)(length >> 16);
        p[2] = (uint8_t)(length >> 8);
        p[3] = (uint8_t)length;
    } else {
        p[0] = (uint8_t)(length >> 8);
        p[1] = (uint8_t)length;
    }
    if (length & 1) put_u1(b, 0);  // pad byte, not counted in the length
}

void sub_f4_env(IffBuffer* b, const char* id, float v) {
    begin(b, id, 0);
    put_f4(b, v);
    put_vx(b, 0);
    end(b);
}

void sub_vec_env(IffBuffer* b, const char* id, const float* v) {
    begin(b, id, 0);
    for (int i = 0; i < 3; i++) put_f4(b, v[i]);
    put_vx(b, 0);
    end(b);
}

void sub_u2(IffBuffer* b, const char* id, unsigned v) {
    begin(b, id, 0);
    put_u2(b, v);
    end(b);
}

void write_surface(IffBuffer* b, const LwoSurface* s, int clip_index) {
    begin(b, "SURF", 1);
    put_s0(b, s->name);
    put_s0(b, "");
    sub_vec_env(b, "COLR", s->colour);
    sub_f4_env(b, "DIFF", s->diffuse);
    sub_f4_env(b, "SPEC", 0.0f);
    if (s->transparency > 0.0f) sub_f4_env(b, "TRAN", s->transparency);
    sub_u2(b, "SIDE", s->double_sided ? 3 : 1);
    begin(b, "SMAN", 0);
    put_f4(b, 1.5625f);  // 89.5 degrees: smooth shading across the curved faces
    end(b);

    begin(b, "BLOK", 0);
    begin(b, "IMAP", 0);
    put_s0(b, "\x80");
    begin(b, "CHAN", 0);
    put_id4(b, "COLR");
    end(b);
    sub_u2(b, "ENAB", 1);
    begin(b, "OPAC", 0);
    put_u2(b, 0);
    put_f4(b, 1.0f);
    put_vx(b, 0);
    end(b);
    end(b);  // IMAP header

    begin(b, "TMAP", 0);
    sub_vec_env(b, "CNTR", s->centre);
    sub_vec_env(b, "SIZE", s->size);
    static const float zero[3] = {0, 0, 0};
    sub_vec_env(b, "ROTA", zero);
    begin(b, "FALL", 0);
    put_u2(b, 0);
    for (int i = 0; i < 3; i++) put_f4(b, 0.0f);
    put_vx(b, 0);
    end(b);
    begin(b, "OREF", 0);
    put_s0(b, "(none)");
    end(b);
    sub_u2(b, "CSYS", 0);
    end(b);  // TMAP

    sub_u2(b, "PROJ", (unsigned)s->projection);
    sub_u2(b, "AXIS", (unsigned)s->axis);
    begin(b, "IMAG", 0);
    put_vx(b, (uint32_t)clip_index);
    end(b);
    begin(b, "WRAP", 0);
    put_u2(b, 1);  // repeat
    put_u2(b, 1);
    end(b);
    sub_f4_env(b, "WRPW", 1.0f);
    sub_f4_env(b, "WRPH", 1.0f);
    if (s->projection == LWO_PROJ_UV && !s->uv_map.empty()) {
        begin(b, "VMAP", 0);
        put_s0(b, s->uv_map);
        end(b);
    }
    begin(b, "AAST", 0);
    put_u2(b, 1);
    put_f4(b, 1.0f);
    end(b);
    sub_u2(b, "PIXB", 1);
    sub_f4_env(b, "TAMP", 1.0f);
    end(b);  // BLOK
    end(b);  // SURF
}

}  // namespace

int lwo_add_point(LwoModel* model, float x, float y, float z) {
    model->points.push_back(x);
    model->points.push_back(y);
    model->points.push_back(z);
    return (int)(model->points.size() / 3) - 1;
}

int lwo_add_polygon(LwoModel* model, const std::vector<int>& corners, int surface) {
    model->polygons.push_back(corners);
    model->polygon_surface.push_back(surface);
    return (int)model->polygons.size() - 1;
}

int lwo_encode(const LwoModel* m, std::vector<uint8_t>* out) {
    int point_count = (int)(m->points.size() / 3);
    int polygon_count = (int)m->polygons.size();
    if (m->polygon_surface.size() != m->polygons.size()) return 1;
    for (int i = 0; i < polygon_count; i++) {
        if (m->polygons[i].size() < 1 || m->polygons[i].size() > 1023) return 1;
        for (int c : m->polygons[i])
            if (c < 0 || c >= point_count) return 1;
        if (m->polygon_surface[i] < 0 || m->polygon_surface[i] >= (int)m->surfaces.size()) return 1;
    }
    for (const LwoUv& e : m->uvs)
        if (e.point < 0 || e.point >= point_count) return 1;
    for (const LwoPolygonUv& e : m->polygon_uvs)
        if (e.point < 0 || e.point >= point_count || e.polygon < 0 || e.polygon >= polygon_count) return 1;

    out->clear();
    IffBuffer b{out, {}};
    begin(&b, "FORM", 1);
    put_id4(&b, "LWO2");

    begin(&b, "TAGS", 1);
    for (const LwoSurface& s : m->surfaces) put_s0(&b, s.name);
    end(&b);

    begin(&b, "LAYR", 1);
    put_u2(&b, 0);  // number
    put_u2(&b, 0);  // flags
    for (int i = 0; i < 3; i++) put_f4(&b, 0.0f);
    put_s0(&b, "");
    put_u2(&b, 0xFFFF);  // no parent
    end(&b);

    begin(&b, "PNTS", 1);
    for (float v : m->points) put_f4(&b, v);
    end(&b);

    float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    for (int i = 0; i < point_count; i++)
        for (int k = 0; k < 3; k++) {
            float v = m->points[i * 3 + k];
            if (i == 0 || v < lo[k]) lo[k] = v;
            if (i == 0 || v > hi[k]) hi[k] = v;
        }
    begin(&b, "BBOX", 1);
    for (int k = 0; k < 3; k++) put_f4(&b, lo[k]);
    for (int k = 0; k < 3; k++) put_f4(&b, hi[k]);
    end(&b);

    if (!m->uvs.empty()) {
        begin(&b, "VMAP", 1);
        put_id4(&b, "TXUV");
        put_u2(&b, 2);
        put_s0(&b, m->uv_name);
        for (const LwoUv& e : m->uvs) {
            put_vx(&b, (uint32_t)e.point);
            put_f4(&b, e.u);
            put_f4(&b, e.v);
        }
        end(&b);
    }

    begin(&b, "POLS", 1);
    put_id4(&b, "FACE");
    for (const std::vector<int>& p : m->polygons) {
        put_u2(&b, (unsigned)p.size());
        for (int c : p) put_vx(&b, (uint32_t)c);
    }
    end(&b);

    begin(&b, "PTAG", 1);
    put_id4(&b, "SURF");
    for (int i = 0; i < polygon_count; i++) {
        put_vx(&b, (uint32_t)i);
        put_u2(&b, (unsigned)m->polygon_surface[i]);
    }
    end(&b);

    if (!m->polygon_uvs.empty()) {
        begin(&b, "VMAD", 1);
        put_id4(&b, "TXUV");
        put_u2(&b, 2);
        put_s0(&b, m->uv_name);
        for (const LwoPolygonUv& e : m->polygon_uvs) {
            put_vx(&b, (uint32_t)e.point);
            put_vx(&b, (uint32_t)e.polygon);
            put_f4(&b, e.u);
            put_f4(&b, e.v);
        }
        end(&b);
    }

    for (size_t i = 0; i < m->surfaces.size(); i++) {
        begin(&b, "CLIP", 1);
        put_u4(&b, (uint32_t)(i + 1));
        begin(&b, "STIL", 0);
        put_s0(&b, "images/" + m->surfaces[i].image);
        end(&b);
        end(&b);
    }
    for (size_t i = 0; i < m->surfaces.size(); i++) write_surface(&b, &m->surfaces[i], (int)i + 1);

    end(&b);  // FORM
    return 0;
}

int lwo_write_file(const LwoModel* model, const char* path) {
    std::vector<uint8_t> bytes;
    if (lwo_encode(model, &bytes)) {
        fprintf(stderr, "quillet-assets: object %s is malformed\n", path);
        return 1;
    }
    FILE* f = fopen(path, "wb");
    if (!f) {
        fprintf(stderr, "quillet-assets: cannot write %s\n", path);
        return 1;
    }
    size_t n = fwrite(bytes.data(), 1, bytes.size(), f);
    if (fclose(f) != 0 || n != bytes.size()) {
        fprintf(stderr, "quillet-assets: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
