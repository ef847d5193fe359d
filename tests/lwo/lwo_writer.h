// A small LWO2 writer for tests and fuzz seeds: raw chunks and sub-chunks (the IFF byte layer the
// data-set generator writes with), and a whole-object helper for the common single-layer files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "assets/lwo_bytes.h"

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
