// An independent, strict reading of the LWO2 files the generator writes, for the tests: every chunk
// and sub-chunk must end exactly where its length says.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct CheckSurface {
    std::string name;
    float colour[3] = {0, 0, 0};
    float transparency = 0.0f;
    int has_colour = 0;
    int has_image_block = 0;
    int projection = 0;
    int axis = 0;
    float centre[3] = {0, 0, 0};
    float size[3] = {0, 0, 0};
    std::string uv_map;
};

struct CheckUv {
    int point;
    int polygon;  // -1 for VMAP entries
    float u, v;
};

struct CheckLwo {
    std::vector<std::string> chunk_order;  // top-level chunk ids in file order
    std::vector<std::string> tags;
    std::vector<float> points;
    float bbox[6] = {0, 0, 0, 0, 0, 0};
    std::string polygon_type;
    std::vector<std::vector<int>> polygons;
    std::string ptag_type;
    std::vector<int> polygon_tag;  // tag index per polygon, -1 when untagged
    std::string vmap_name, vmad_name;
    std::vector<CheckUv> vmap, vmad;
    std::vector<CheckSurface> surfaces;
    int vx_long = 0;  // number of 4-byte indices met
};

// Parses the bytes; returns an empty string on success or what was wrong.
std::string check_lwo_parse(const std::vector<uint8_t>& bytes, CheckLwo* out);
std::vector<uint8_t> check_read_file(const std::string& path);
// Reader-style face normal: cross(p1 - p0, p_last - p0), normalised.
void check_face_normal(const CheckLwo& lwo, int polygon, float n[3]);
void check_face_centroid(const CheckLwo& lwo, int polygon, float c[3]);
