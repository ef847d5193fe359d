#include "lwo/lwo_writer.h"

#include <cstdio>
#include <cstring>

int lwo_writer_save(const LwoWriter* w, const std::string& path) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    size_t n = fwrite(w->bytes.data(), 1, w->bytes.size(), f);
    return fclose(f) == 0 && n == w->bytes.size();
}

static void lwo_writer_surface(LwoWriter* w, const LwoTestSurface& s) {
    lwo_writer_chunk(w, "SURF");
    lwo_writer_string(w, s.name.c_str());
    lwo_writer_string(w, "");
    lwo_writer_sub(w, "COLR");
    for (float c : s.colour) lwo_writer_f4(w, c);
    lwo_writer_vx(w, 0);
    lwo_writer_end(w);
    lwo_writer_sub(w, "DIFF");
    lwo_writer_f4(w, 1.0f);
    lwo_writer_vx(w, 0);
    lwo_writer_end(w);
    if (s.transparency != 0) {
        lwo_writer_sub(w, "TRAN");
        lwo_writer_f4(w, s.transparency);
        lwo_writer_vx(w, 0);
        lwo_writer_end(w);
    }
    lwo_writer_sub(w, "BLOK");
    lwo_writer_sub(w, "IMAP");
    lwo_writer_string(w, "\x80");
    lwo_writer_sub(w, "CHAN");
    lwo_writer_id(w, "COLR");
    lwo_writer_end(w);
    lwo_writer_sub(w, "ENAB");
    lwo_writer_u2(w, 1);
    lwo_writer_end(w);
    lwo_writer_end(w);
    lwo_writer_sub(w, "TMAP");
    lwo_writer_sub(w, "CNTR");
    for (float c : s.centre) lwo_writer_f4(w, c);
    lwo_writer_vx(w, 0);
    lwo_writer_end(w);
    lwo_writer_sub(w, "SIZE");
    for (float c : s.size) lwo_writer_f4(w, c);
    lwo_writer_vx(w, 0);
    lwo_writer_end(w);
    lwo_writer_sub(w, "CSYS");
    lwo_writer_u2(w, 0);
    lwo_writer_end(w);
    lwo_writer_end(w);
    lwo_writer_sub(w, "PROJ");
    lwo_writer_u2(w, uint16_t(s.projection));
    lwo_writer_end(w);
    lwo_writer_sub(w, "AXIS");
    lwo_writer_u2(w, uint16_t(s.axis));
    lwo_writer_end(w);
    lwo_writer_sub(w, "IMAG");
    lwo_writer_vx(w, 1);
    lwo_writer_end(w);
    if (!s.map_name.empty()) {
        lwo_writer_sub(w, "VMAP");
        lwo_writer_string(w, s.map_name.c_str());
        lwo_writer_end(w);
    }
    lwo_writer_end(w);
    lwo_writer_end(w);
}

std::vector<uint8_t> lwo_writer_object(const LwoTestObject& o) {
    LwoWriter w;
    lwo_writer_form(&w);
    lwo_writer_chunk(&w, "TAGS");
    for (const LwoTestSurface& s : o.surfaces) lwo_writer_string(&w, s.name.c_str());
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "LAYR");
    lwo_writer_u2(&w, 0);
    lwo_writer_u2(&w, 0);
    for (int i = 0; i < 3; i++) lwo_writer_f4(&w, 0);
    lwo_writer_string(&w, "layer");
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "PNTS");
    for (float f : o.points) lwo_writer_f4(&w, f);
    lwo_writer_end(&w);
    if (!o.uv_name.empty()) {
        lwo_writer_chunk(&w, "VMAP");
        lwo_writer_id(&w, "TXUV");
        lwo_writer_u2(&w, 2);
        lwo_writer_string(&w, o.uv_name.c_str());
        for (size_t i = 0; i * 2 + 1 < o.uvs.size(); i++) {
            lwo_writer_vx(&w, uint32_t(i));
            lwo_writer_f4(&w, o.uvs[i * 2]);
            lwo_writer_f4(&w, o.uvs[i * 2 + 1]);
        }
        lwo_writer_end(&w);
    }
    lwo_writer_chunk(&w, "POLS");
    lwo_writer_id(&w, "FACE");
    for (const std::vector<uint32_t>& p : o.polygons) {
        lwo_writer_u2(&w, uint16_t(p.size()));
        for (uint32_t i : p) lwo_writer_vx(&w, i);
    }
    lwo_writer_end(&w);
    if (!o.surfaces.empty()) {
        lwo_writer_chunk(&w, "PTAG");
        lwo_writer_id(&w, "SURF");
        for (size_t i = 0; i < o.polygons.size(); i++) {
            lwo_writer_vx(&w, uint32_t(i));
            lwo_writer_u2(&w, uint16_t(i < o.polygon_surface.size() ? o.polygon_surface[i] : 0));
        }
        lwo_writer_end(&w);
    }
    if (!o.vmad_name.empty()) {
        lwo_writer_chunk(&w, "VMAD");
        lwo_writer_id(&w, "TXUV");
        lwo_writer_u2(&w, 2);
        lwo_writer_string(&w, o.vmad_name.c_str());
        for (const LwoTestVmad& e : o.vmad) {
            lwo_writer_vx(&w, e.point);
            lwo_writer_vx(&w, e.polygon);
            lwo_writer_f4(&w, e.u);
            lwo_writer_f4(&w, e.v);
        }
        lwo_writer_end(&w);
    }
    for (const LwoTestSurface& s : o.surfaces) lwo_writer_surface(&w, s);
    lwo_writer_end(&w);
    return w.bytes;
}

LwoTestObject lwo_test_cube8() {
    LwoTestObject o;
    for (int i = 0; i < 8; i++) {
        o.points.push_back((i & 1) ? 0.5f : -0.5f);
        o.points.push_back((i & 2) ? 0.5f : -0.5f);
        o.points.push_back((i & 4) ? 0.5f : -0.5f);
    }
    // Corner order so that cross(p1 - p0, p3 - p0) points outwards.
    o.polygons = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
    LwoTestSurface s;
    s.name = "white";
    o.surfaces.push_back(s);
    return o;
}

LwoTestObject lwo_test_grid(int n) {
    LwoTestObject o;
    for (int z = 0; z <= n; z++)
        for (int x = 0; x <= n; x++) {
            o.points.push_back(float(x));
            o.points.push_back(0.0f);
            o.points.push_back(float(z));
        }
    for (int z = 0; z < n; z++)
        for (int x = 0; x < n; x++) {
            uint32_t a = uint32_t(z * (n + 1) + x);
            // cross(p1 - p0, p3 - p0) = +y with p1 along +z and p3 along +x.
            o.polygons.push_back({a, a + uint32_t(n + 1), a + uint32_t(n + 2), a + 1});
        }
    LwoTestSurface s;
    s.name = "ground";
    o.surfaces.push_back(s);
    return o;
}

#include "lwo/lwo.h"

LwLayer* lwo_test_load(const std::vector<uint8_t>& bytes) {
    lwo_report_failures = 0;
    return lwo_load_memory("data\\x.lwo", bytes.data(), bytes.size());
}
