// A small LWO2 writer for tests and fuzz seeds: raw chunks and sub-chunks with their lengths filled
// in when closed, and a whole-object helper for the common single-layer files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct LwoWriter {
    std::vector<uint8_t> bytes;
    std::vector<size_t> open;       // offsets of open length fields
    std::vector<int> open_wide;     // 1: U4 length (chunk), 0: U2 (sub-chunk)
};

void lwo_writer_u1(LwoWriter* w, uint8_t v);
void lwo_writer_u2(LwoWriter* w, uint16_t v);
void lwo_writer_u4(LwoWriter* w, uint32_t v);
void lwo_writer_f4(LwoWriter* w, float v);
void lwo_writer_id(LwoWriter* w, const char* id);  // four characters
void lwo_writer_vx(LwoWriter* w, uint32_t v);      // two bytes below 0xFF00, else four
void lwo_writer_string(LwoWriter* w, const char* s);  // NUL and pad byte to even
void lwo_writer_chunk(LwoWriter* w, const char* id);  // opens a chunk (U4 length)
void lwo_writer_sub(LwoWriter* w, const char* id);    // opens a sub-chunk (U2 length)
void lwo_writer_end(LwoWriter* w);                    // closes the innermost, pads odd lengths
void lwo_writer_form(LwoWriter* w);                   // "FORM" ... "LWO2"; close with lwo_writer_end
int lwo_writer_save(const LwoWriter* w, const std::string& path);  // 1 on success

// One layer, one TAGS list of surface names, PTAG SURF per polygon.
struct LwoTestSurface {
    std::string name;
    float colour[3] = {1, 1, 1};
    float transparency = 0;
    int projection = 5;  // image-map projection; 5 = UV map
    int axis = 2;
    float centre[3] = {0, 0, 0};
    float size[3] = {1, 1, 1};
    std::string map_name;  // the image map's VMAP name
};

struct LwoTestVmad {
    uint32_t point, polygon;
    float u, v;
};

struct LwoTestObject {
    std::vector<float> points;                   // x, y, z per point
    std::vector<std::vector<uint32_t>> polygons;  // point indices
    std::vector<int> polygon_surface;            // tag index per polygon (default 0)
    std::vector<LwoTestSurface> surfaces;
    std::string uv_name;                         // a TXUV VMAP when not empty
    std::vector<float> uvs;                      // u, v per point
    std::string vmad_name;                       // a TXUV VMAD when not empty
    std::vector<LwoTestVmad> vmad;
};

std::vector<uint8_t> lwo_writer_object(const LwoTestObject& object);

// Cube objects: 8 points and 6 quadrilaterals with outward normals, one white surface.
LwoTestObject lwo_test_cube8();
// A grid of (n + 1) x (n + 1) points and n x n quadrilaterals in the plane y = 0, facing up.
LwoTestObject lwo_test_grid(int n);

struct LwLayer;
// Loads bytes as if from the file "data\x.lwo" (failures silent).
LwLayer* lwo_test_load(const std::vector<uint8_t>& bytes);
