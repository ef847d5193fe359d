#include "assets/lwo_writer.h"

#include <cstdio>
#include <utility>

#include "assets/lwo_bytes.h"

namespace {

void sub_f4_env(LwoWriter* b, const char* id, float v) {
    lwo_writer_sub(b, id);
    lwo_writer_f4(b, v);
    lwo_writer_vx(b, 0);
    lwo_writer_end(b);
}

void sub_vec_env(LwoWriter* b, const char* id, const float* v) {
    lwo_writer_sub(b, id);
    for (int i = 0; i < 3; i++) lwo_writer_f4(b, v[i]);
    lwo_writer_vx(b, 0);
    lwo_writer_end(b);
}

void sub_u2(LwoWriter* b, const char* id, unsigned v) {
    lwo_writer_sub(b, id);
    lwo_writer_u2(b, v);
    lwo_writer_end(b);
}

void write_surface(LwoWriter* b, const LwoSurface* s, int clip_index) {
    lwo_writer_chunk(b, "SURF");
    lwo_writer_string(b, s->name.c_str());
    lwo_writer_string(b, "");
    sub_vec_env(b, "COLR", s->colour);
    sub_f4_env(b, "DIFF", s->diffuse);
    sub_f4_env(b, "SPEC", 0.0f);
    if (s->transparency > 0.0f) sub_f4_env(b, "TRAN", s->transparency);
    sub_u2(b, "SIDE", s->double_sided ? 3 : 1);
    lwo_writer_sub(b, "SMAN");
    lwo_writer_f4(b, 1.5625f);  // 89.5 degrees: smooth shading across the curved faces
    lwo_writer_end(b);

    lwo_writer_sub(b, "BLOK");
    lwo_writer_sub(b, "IMAP");
    lwo_writer_string(b, "\x80");
    lwo_writer_sub(b, "CHAN");
    lwo_writer_id(b, "COLR");
    lwo_writer_end(b);
    sub_u2(b, "ENAB", 1);
    lwo_writer_sub(b, "OPAC");
    lwo_writer_u2(b, 0);
    lwo_writer_f4(b, 1.0f);
    lwo_writer_vx(b, 0);
    lwo_writer_end(b);
    lwo_writer_end(b);  // IMAP header

    lwo_writer_sub(b, "TMAP");
    sub_vec_env(b, "CNTR", s->centre);
    sub_vec_env(b, "SIZE", s->size);
    static const float zero[3] = {0, 0, 0};
    sub_vec_env(b, "ROTA", zero);
    lwo_writer_sub(b, "FALL");
    lwo_writer_u2(b, 0);
    for (int i = 0; i < 3; i++) lwo_writer_f4(b, 0.0f);
    lwo_writer_vx(b, 0);
    lwo_writer_end(b);
    lwo_writer_sub(b, "OREF");
    lwo_writer_string(b, "(none)");
    lwo_writer_end(b);
    sub_u2(b, "CSYS", 0);
    lwo_writer_end(b);  // TMAP

    sub_u2(b, "PROJ", (unsigned)s->projection);
    sub_u2(b, "AXIS", (unsigned)s->axis);
    lwo_writer_sub(b, "IMAG");
    lwo_writer_vx(b, (uint32_t)clip_index);
    lwo_writer_end(b);
    lwo_writer_sub(b, "WRAP");
    lwo_writer_u2(b, 1);  // repeat
    lwo_writer_u2(b, 1);
    lwo_writer_end(b);
    sub_f4_env(b, "WRPW", 1.0f);
    sub_f4_env(b, "WRPH", 1.0f);
    if (s->projection == LWO_PROJ_UV && !s->uv_map.empty()) {
        lwo_writer_sub(b, "VMAP");
        lwo_writer_string(b, s->uv_map.c_str());
        lwo_writer_end(b);
    }
    lwo_writer_sub(b, "AAST");
    lwo_writer_u2(b, 1);
    lwo_writer_f4(b, 1.0f);
    lwo_writer_end(b);
    sub_u2(b, "PIXB", 1);
    sub_f4_env(b, "TAMP", 1.0f);
    lwo_writer_end(b);  // BLOK
    lwo_writer_end(b);  // SURF
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

    LwoWriter b;
    lwo_writer_form(&b);

    lwo_writer_chunk(&b, "TAGS");
    for (const LwoSurface& s : m->surfaces) lwo_writer_string(&b, s.name.c_str());
    lwo_writer_end(&b);

    lwo_writer_chunk(&b, "LAYR");
    lwo_writer_u2(&b, 0);  // number
    lwo_writer_u2(&b, 0);  // flags
    for (int i = 0; i < 3; i++) lwo_writer_f4(&b, 0.0f);
    lwo_writer_string(&b, "");
    lwo_writer_u2(&b, 0xFFFF);  // no parent
    lwo_writer_end(&b);

    lwo_writer_chunk(&b, "PNTS");
    for (float v : m->points) lwo_writer_f4(&b, v);
    lwo_writer_end(&b);

    float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    for (int i = 0; i < point_count; i++)
        for (int k = 0; k < 3; k++) {
            float v = m->points[i * 3 + k];
            if (i == 0 || v < lo[k]) lo[k] = v;
            if (i == 0 || v > hi[k]) hi[k] = v;
        }
    lwo_writer_chunk(&b, "BBOX");
    for (int k = 0; k < 3; k++) lwo_writer_f4(&b, lo[k]);
    for (int k = 0; k < 3; k++) lwo_writer_f4(&b, hi[k]);
    lwo_writer_end(&b);

    if (!m->uvs.empty()) {
        lwo_writer_chunk(&b, "VMAP");
        lwo_writer_id(&b, "TXUV");
        lwo_writer_u2(&b, 2);
        lwo_writer_string(&b, m->uv_name.c_str());
        for (const LwoUv& e : m->uvs) {
            lwo_writer_vx(&b, (uint32_t)e.point);
            lwo_writer_f4(&b, e.u);
            lwo_writer_f4(&b, e.v);
        }
        lwo_writer_end(&b);
    }

    lwo_writer_chunk(&b, "POLS");
    lwo_writer_id(&b, "FACE");
    for (const std::vector<int>& p : m->polygons) {
        lwo_writer_u2(&b, (unsigned)p.size());
        for (int c : p) lwo_writer_vx(&b, (uint32_t)c);
    }
    lwo_writer_end(&b);

    lwo_writer_chunk(&b, "PTAG");
    lwo_writer_id(&b, "SURF");
    for (int i = 0; i < polygon_count; i++) {
        lwo_writer_vx(&b, (uint32_t)i);
        lwo_writer_u2(&b, (unsigned)m->polygon_surface[i]);
    }
    lwo_writer_end(&b);

    if (!m->polygon_uvs.empty()) {
        lwo_writer_chunk(&b, "VMAD");
        lwo_writer_id(&b, "TXUV");
        lwo_writer_u2(&b, 2);
        lwo_writer_string(&b, m->uv_name.c_str());
        for (const LwoPolygonUv& e : m->polygon_uvs) {
            lwo_writer_vx(&b, (uint32_t)e.point);
            lwo_writer_vx(&b, (uint32_t)e.polygon);
            lwo_writer_f4(&b, e.u);
            lwo_writer_f4(&b, e.v);
        }
        lwo_writer_end(&b);
    }

    for (size_t i = 0; i < m->surfaces.size(); i++) {
        lwo_writer_chunk(&b, "CLIP");
        lwo_writer_u4(&b, (uint32_t)(i + 1));
        lwo_writer_sub(&b, "STIL");
        lwo_writer_string(&b, ("images/" + m->surfaces[i].image).c_str());
        lwo_writer_end(&b);
        lwo_writer_end(&b);
    }
    for (size_t i = 0; i < m->surfaces.size(); i++) write_surface(&b, &m->surfaces[i], (int)i + 1);

    lwo_writer_end(&b);  // FORM
    *out = std::move(b.bytes);
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
