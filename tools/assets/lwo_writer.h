// LWO2 writer: one-layer LightWave objects as big-endian IFF ("FORM" of type "LWO2").
//
// Chunks, in the order LightWave itself writes them: TAGS, LAYR, PNTS, BBOX, VMAP (TXUV), POLS
// (FACE), PTAG (SURF), VMAD (TXUV), CLIP, SURF. Each surface has COLR, DIFF, SPEC, optional TRAN,
// SIDE, SMAN and one image-map BLOK with TMAP (CNTR, SIZE, ROTA, FALL, OREF, CSYS), PROJ, AXIS,
// IMAG, WRAP, the texture-coordinate map's name when it uses one, and the usual trailing fields.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Image-map projections as this program's reader numbers them; axes count from 1 (X).
enum {
    LWO_PROJ_PLANAR = 1,
    LWO_PROJ_CUBIC = 2,
    LWO_PROJ_CYLINDRICAL = 3,
    LWO_PROJ_SPHERICAL = 4,
    LWO_PROJ_UV = 5,
};
enum { LWO_AXIS_X = 1, LWO_AXIS_Y = 2, LWO_AXIS_Z = 3 };

struct LwoSurface {
    std::string name;
    float colour[3];
    float diffuse;
    float transparency;   // 0: opaque (no TRAN written)
    int double_sided;     // SIDE 3 instead of 1
    int projection;       // LWO_PROJ_*
    int axis;             // LWO_AXIS_*
    float centre[3];
    float size[3];
    std::string uv_map;   // map named by the block (LWO_PROJ_UV only)
    std::string image;    // still image of the block's clip
};

struct LwoUv {
    int point;
    float u, v;
};

struct LwoPolygonUv {
    int point;
    int polygon;
    float u, v;
};

struct LwoModel {
    std::vector<float> points;                // x, y, z per point
    std::vector<std::vector<int>> polygons;   // point indices in polygon order
    std::vector<int> polygon_surface;         // surface index per polygon
    std::vector<LwoSurface> surfaces;
    std::string uv_name;                      // name of the TXUV VMAP and VMAD (when used)
    std::vector<LwoUv> uvs;                   // per-point texture coordinates (VMAP)
    std::vector<LwoPolygonUv> polygon_uvs;    // per-polygon texture coordinates (VMAD)
};

// Appends a point and returns its index.
int lwo_add_point(LwoModel* model, float x, float y, float z);
// Appends a polygon of the given surface and returns its index.
int lwo_add_polygon(LwoModel* model, const std::vector<int>& corners, int surface);

// Encodes the model; returns 0, or 1 when it cannot be written (a polygon of more than 1023
// corners or a corner, polygon or surface index out of range).
int lwo_encode(const LwoModel* model, std::vector<uint8_t>* out);
// Encodes and writes the file; 0 or 1 with a one-line message on stderr.
int lwo_write_file(const LwoModel* model, const char* path);
