#include "assets/check_lwo.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

struct Reader {
    const uint8_t* p;
    size_t pos, end;
    std::string error;
    int* vx_long;
};

bool need(Reader* r, size_t n) {
    if (r->pos + n > r->end) {
        if (r->error.empty()) r->error = "read past the end of a chunk";
        return false;
    }
    return true;
}
uint32_t u1(Reader* r) { return need(r, 1) ? r->p[r->pos++] : 0; }
uint32_t u2(Reader* r) {
    if (!need(r, 2)) return 0;
    uint32_t v = (uint32_t)r->p[r->pos] << 8 | r->p[r->pos + 1];
    r->pos += 2;
    return v;
}
uint32_t u4(Reader* r) {
    uint32_t hi = u2(r);
    return hi << 16 | u2(r);
}
float f4(Reader* r) {
    uint32_t v = u4(r);
    float f;
    memcpy(&f, &v, 4);
    return f;
}
std::string id4(Reader* r) {
    if (!need(r, 4)) return "";
    std::string s((const char*)r->p + r->pos, 4);
    r->pos += 4;
    return s;
}
uint32_t vx(Reader* r) {
    if (!need(r, 2)) return 0;
    if (r->p[r->pos] == 0xFF) {
        (*r->vx_long)++;
        return u4(r) & 0xFFFFFF;
    }
    return u2(r);
}
std::string s0(Reader* r) {
    std::string s;
    while (need(r, 1) && r->p[r->pos] != 0) s += (char)r->p[r->pos++];
    u1(r);
    if ((s.size() + 1) & 1) {
        if (need(r, 1) && r->p[r->pos] != 0 && r->error.empty()) r->error = "string pad byte not zero";
        u1(r);
    }
    return s;
}

// Runs body over the sub-chunks (U2 lengths) between pos and end.
template <typename F>
void sub_chunks(Reader* r, size_t end, F body) {
    while (r->error.empty() && r->pos < end) {
        std::string id = id4(r);
        uint32_t len = u2(r);
        size_t stop = r->pos + len;
        if (stop > end) {
            r->error = "sub-chunk " + id + " runs past its parent";
            return;
        }
        size_t saved_end = r->end;
        r->end = stop;
        body(id, stop);
        if (r->error.empty() && r->pos != stop) r->error = "sub-chunk " + id + " length disagrees with its fields";
        r->end = saved_end;
        r->pos = stop + (len & 1);
    }
}

void read_surface(Reader* r, size_t end, CheckLwo* out) {
    CheckSurface s;
    s.name = s0(r);
    s0(r);
    sub_chunks(r, end, [&](const std::string& id, size_t stop) {
        if (id == "COLR") {
            for (float& c : s.colour) c = f4(r);
            vx(r);
            s.has_colour = 1;
        } else if (id == "TRAN") {
            s.transparency = f4(r);
            vx(r);
        } else if (id == "BLOK") {
            std::string type;
            size_t block_end = stop;
            // Header sub-chunk first: its id is the block type.
            type = id4(r);
            uint32_t hlen = u2(r);
            size_t hstop = r->pos + hlen;
            s0(r);
            sub_chunks(r, hstop, [&](const std::string&, size_t st) { r->pos = st; });
            r->pos = hstop;
            if (type == "IMAP") s.has_image_block = 1;
            sub_chunks(r, block_end, [&](const std::string& sid, size_t st) {
                if (sid == "PROJ") s.projection = (int)u2(r);
                else if (sid == "AXIS") s.axis = (int)u2(r);
                else if (sid == "VMAP") s.uv_map = s0(r);
                else if (sid == "TMAP") {
                    sub_chunks(r, st, [&](const std::string& tid, size_t tst) {
                        if (tid == "CNTR" || tid == "SIZE") {
                            float* dst = tid == "CNTR" ? s.centre : s.size;
                            for (int k = 0; k < 3; k++) dst[k] = f4(r);
                            vx(r);
                        } else {
                            r->pos = tst;
                        }
                    });
                } else {
                    r->pos = st;
                }
            });
        } else {
            r->pos = stop;
        }
    });
    out->surfaces.push_back(s);
}

}  // namespace

std::string check_lwo_parse(const std::vector<uint8_t>& bytes, CheckLwo* out) {
    Reader r{bytes.data(), 0, bytes.size(), "", &out->vx_long};
    if (id4(&r) != "FORM") return "not a FORM";
    uint32_t form_len = u4(&r);
    if (form_len + 8 != bytes.size()) return "FORM length is not the file length";
    if (id4(&r) != "LWO2") return "not LWO2";
    while (r.error.empty() && r.pos < bytes.size()) {
        std::string id = id4(&r);
        uint32_t len = u4(&r);
        size_t stop = r.pos + len;
        if (stop > bytes.size()) return "chunk " + id + " runs past the file";
        r.end = stop;
        out->chunk_order.push_back(id);
        if (id == "TAGS") {
            while (r.error.empty() && r.pos < stop) out->tags.push_back(s0(&r));
        } else if (id == "LAYR") {
            u2(&r);
            u2(&r);
            for (int k = 0; k < 3; k++) f4(&r);
            s0(&r);
            if (r.pos < stop) u2(&r);
        } else if (id == "PNTS") {
            if (len % 12) return "PNTS length not a multiple of 12";
            while (r.error.empty() && r.pos < stop) out->points.push_back(f4(&r));
        } else if (id == "BBOX") {
            for (float& b : out->bbox) b = f4(&r);
        } else if (id == "POLS") {
            out->polygon_type = id4(&r);
            while (r.error.empty() && r.pos < stop) {
                uint32_t n = u2(&r) & 0x3FF;
                std::vector<int> poly;
                for (uint32_t k = 0; k < n; k++) poly.push_back((int)vx(&r));
                out->polygons.push_back(poly);
            }
        } else if (id == "PTAG") {
            out->ptag_type = id4(&r);
            out->polygon_tag.assign(out->polygons.size(), -1);
            while (r.error.empty() && r.pos < stop) {
                uint32_t poly = vx(&r), tag = u2(&r);
                if (poly >= out->polygon_tag.size()) return "PTAG names a missing polygon";
                out->polygon_tag[poly] = (int)tag;
            }
        } else if (id == "VMAP" || id == "VMAD") {
            std::string type = id4(&r);
            uint32_t dim = u2(&r);
            std::string name = s0(&r);
            if (type != "TXUV" || dim != 2) return id + " is not a 2D TXUV map";
            while (r.error.empty() && r.pos < stop) {
                CheckUv e;
                e.point = (int)vx(&r);
                e.polygon = id == "VMAD" ? (int)vx(&r) : -1;
                e.u = f4(&r);
                e.v = f4(&r);
                (id == "VMAD" ? out->vmad : out->vmap).push_back(e);
            }
            (id == "VMAD" ? out->vmad_name : out->vmap_name) = name;
        } else if (id == "SURF") {
            read_surface(&r, stop, out);
        } else {
            r.pos = stop;
        }
        if (!r.error.empty()) return r.error + " (in " + id + ")";
        if (r.pos != stop) return "chunk " + id + " length disagrees with its fields";
        r.end = bytes.size();
        r.pos = stop + (len & 1);
    }
    return r.error;
}

std::vector<uint8_t> check_read_file(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return bytes;
}

void check_face_normal(const CheckLwo& lwo, int polygon, float n[3]) {
    const std::vector<int>& c = lwo.polygons[polygon];
    const float* p0 = &lwo.points[c[0] * 3];
    const float* p1 = &lwo.points[c[1] * 3];
    const float* pl = &lwo.points[c.back() * 3];
    float a[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    float b[3] = {pl[0] - p0[0], pl[1] - p0[1], pl[2] - p0[2]};
    n[0] = a[1] * b[2] - a[2] * b[1];
    n[1] = a[2] * b[0] - a[0] * b[2];
    n[2] = a[0] * b[1] - a[1] * b[0];
    float l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (l > 0)
        for (int k = 0; k < 3; k++) n[k] /= l;
}

void check_face_centroid(const CheckLwo& lwo, int polygon, float c[3]) {
    const std::vector<int>& p = lwo.polygons[polygon];
    c[0] = c[1] = c[2] = 0.0f;
    for (int i : p)
        for (int k = 0; k < 3; k++) c[k] += lwo.points[i * 3 + k] / p.size();
}
