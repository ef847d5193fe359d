// LightWave LWO2 objects: an IFF "FORM" file of type "LWO2", big-endian, read into a chain of layers
// and post-processed so that the converter (lwo_mesh.h) can turn the first layer into a mesh.
//
// lwo_load reads the whole file and parses it in memory. Every read is bounded by the chunk it
// belongs to and by the file; a missing, malformed, truncated or hostile file gives null with
// everything released, and counts are capped by the bytes that remain, so nothing allocated can
// exceed what the file's size justifies. After post-processing every polygon has at most three
// corners, normals are computed, tags resolved, projected maps generated and polygons that are not
// opaque come last. The first layer owns the lists every layer shares; lwo_free releases all of it.
#pragma once
#include <cstddef>
#include <cstdint>

// Four characters packed big-endian, compared as they stand.
constexpr uint32_t lwo_id(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

// Reader results.
enum : int {
    LWO_OK = 1,
    LWO_MISSING = 0,       // missing argument (a chunk that has no layer to go to)
    LWO_WRONG_ID = -1,     // a chunk or value other than the reader's own (unknown span shape)
    LWO_NO_MEMORY = -2,
    LWO_END_OF_FILE = -3,  // a read past the end of the file or of the chunk it belongs to
    LWO_READ_ERROR = -4,
};

// Largest file lwo_load accepts; the objects of the show are a few hundred kilobytes.
enum : size_t { LWO_MAX_FILE_SIZE = size_t(128) << 20 };

struct LwValueEnvelope {
    float value;
    int32_t envelope;  // -1: none
};

struct LwVertexMap {
    uint32_t map_type;  // "TXUV", "WGHT", ...
    uint16_t dimension;
    char* map_name;
    uint32_t entry_count;
    int32_t* entry_points;  // point index per entry
    float* entry_values;    // dimension values per entry
    LwVertexMap* next;
};

struct LwPolygonMapEntry {
    int32_t point;
    int32_t polygon_index;  // renumbered by triangulation
    float values[4];        // components beyond the map's dimension are 0
    LwPolygonMapEntry* next;
};

struct LwPolygonMap {
    uint32_t map_type;
    uint16_t dimension;
    char* map_name;
    LwPolygonMapEntry* entries;  // most recent first
    uint32_t entry_count;
    LwPolygonMapEntry* entry_storage;  // the one allocation the entries live in
    LwPolygonMap* next;
};

struct LwClip {
    uint32_t clip_index;
    char* file_name;  // still image name without its directory part
    LwClip* next;
};

struct LwEnvelopeKey {
    float time;
    float value;
    uint32_t span_type;
    float span_parameters[7];  // tension, continuity, bias, then the curve parameters
    LwEnvelopeKey* next;
};

struct LwEnvelope {
    int32_t envelope_index;
    uint8_t user_format;
    uint8_t envelope_type;
    int16_t pre_behaviour;
    int16_t post_behaviour;
    LwEnvelopeKey* keys;  // file order
    LwEnvelope* next;
};

struct LwTextureTransform {
    float centre[3];
    int32_t centre_envelope;
    float size[3];
    int32_t size_envelope;
    float rotation[3];
    int32_t rotation_envelope;
    char* reference_object;
    uint16_t falloff_type;
    float falloff[3];
    int32_t falloff_envelope;
    uint16_t coordinate_system;
};

// Projection values of an image map.
enum : uint16_t {
    LWO_PROJECT_PLANAR = 1,
    LWO_PROJECT_CUBIC = 2,
    LWO_PROJECT_CYLINDRICAL = 3,
    LWO_PROJECT_SPHERICAL = 4,
};

struct LwImageMap {
    uint16_t projection;
    uint16_t axis;  // 1 = X, 2 = Y, 3 = Z
    int32_t image;  // clip index
    uint16_t wrap_w, wrap_h;
    float wrap_w_amount;
    int32_t wrap_w_envelope;
    float wrap_h_amount;
    int32_t wrap_h_envelope;
    char* map_name;  // replaced by the generated map's name for projections
    uint16_t antialias_flags;
    float antialias_strength;
    uint16_t pixel_blending;
    uint16_t sticky;
    float sticky_time;
    float texture_amplitude;
    int32_t texture_amplitude_envelope;
};

struct LwProcedural {
    uint16_t axis;
    float values[3];
    int32_t value_count;
    char* function_name;
    uint8_t* function_data;
    uint32_t function_data_length;
};

struct LwGradient {
    char* function_name;
    char* input_name;
    float range_start;
    float range_end;
    uint16_t repeat;
    uint32_t key_count;
    float* keys;  // two floats per key
    uint32_t key_shape_count;
    uint16_t* key_shapes;
};

struct LwTextureBlock {
    char* ordinal;
    uint32_t block_type;  // "IMAP", "PROC", "GRAD" or another
    uint32_t channel;
    uint16_t enabled;
    uint16_t opacity_type;
    float opacity;
    int32_t opacity_envelope;
    uint16_t block_axis;
    LwTextureTransform* transform;
    LwImageMap* image_map;
    LwProcedural* procedural;
    LwGradient* gradient;
    LwTextureBlock* next;
};

struct LwSurface {
    char* surface_name;
    char* source_name;
    float colour[3];
    int32_t colour_envelope;  // starts at 0
    LwValueEnvelope diffuse;
    LwValueEnvelope luminosity;
    LwValueEnvelope specularity;
    LwValueEnvelope transparency;
    LwValueEnvelope glossiness;
    LwValueEnvelope sharpness;
    LwValueEnvelope bump;
    uint16_t sidedness;
    float smoothing_angle;
    uint16_t reflection_options;
    int32_t reflection_image;
    LwValueEnvelope reflection_seam_angle;
    LwValueEnvelope reflection_blur;
    LwValueEnvelope refractive_index;
    uint16_t transparency_options;
    int32_t refraction_image;
    LwValueEnvelope refraction_blur;
    LwValueEnvelope colour_highlights;
    LwValueEnvelope colour_filter;
    LwValueEnvelope additive_transparency;
    uint16_t glow_type;
    LwValueEnvelope glow_intensity;
    LwValueEnvelope glow_size;
    uint16_t alpha_mode;
    float alpha_value;
    LwValueEnvelope vertex_colour_intensity;
    uint32_t vertex_colour_map_type;
    char* vertex_colour_map_name;
    LwTextureBlock* blocks;  // file order
    LwSurface* next;
};

// Slots of LwPoints::maps: the layer's last vertex map of each type.
enum {
    LWO_SLOT_PICK,
    LWO_SLOT_WGHT,
    LWO_SLOT_MNVW,
    LWO_SLOT_TXUV,
    LWO_SLOT_RGB,
    LWO_SLOT_RGBA,
    LWO_SLOT_MORF,
    LWO_SLOT_SPOT,
    LWO_SLOT_COUNT
};

// One allocation: the header, then the positions, then the point normals.
struct LwPoints {
    uint32_t point_count;
    float* positions;      // 3 per point
    float* point_normals;  // 3 per point
    LwVertexMap* maps[LWO_SLOT_COUNT];
};

// One allocation: the header, then corners, map_entries and corner_uvs.
struct LwPolygon {
    uint16_t corner_count;
    int32_t* corners;
    int32_t* map_entries;  // entry of uv_map per corner, -1 where the map has none
    float normal[3];
    float plane_d;
    uint32_t part;
    uint32_t smoothing_group;
    float area;
    LwSurface* surface;
    LwPolygonMapEntry** corner_uvs;
    LwVertexMap* uv_map;
    LwPolygon* next;
};

struct LwPolygonTag {
    uint32_t tag_type;
    int32_t polygon_index;
    uint16_t tag_index;
};

struct LwLayer {
    char* name;  // "file name:position"
    int16_t number;
    int16_t parent;  // -1 when LAYR has no parent field
    int16_t layer_flags;
    float pivot[3];
    float bbox_min[3];
    float bbox_max[3];
    LwPoints* points;
    LwVertexMap* vertex_maps;    // file order, then generated maps
    LwPolygonMap* polygon_maps;  // most recent first
    LwPolygon* polygons;
    uint32_t polygon_count;
    LwPolygonTag* polygon_tags;
    uint32_t polygon_tag_count;
    char** tags;  // shared by every layer, owned by the first
    uint32_t tag_count;
    LwSurface* surfaces;  // shared by every layer, owned by the first
    LwClip* clips;
    LwEnvelope* envelopes;
    LwLayer* next;
    // Bookkeeping while reading.
    LwPolygon* polygon_tail;
    uint32_t polygon_tag_capacity;
    uint32_t tag_capacity;
};
typedef LwLayer LwObject;

// The bytes being read and the allocation budget of one load.
struct LwReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
    size_t limit;    // end of the chunk being read; reads beyond it fail
    int status;      // LWO_OK until a read fails
    size_t budget;   // bytes the load may still allocate
    int field_short; // the failure is a field that did not fit in what was left of the limit
};

void lwo_reader_init(LwReader* r, const uint8_t* data, size_t size);

// Primitive reads, big-endian. A read that would pass the reader's limit returns 0 (null for the
// string), sets status to LWO_END_OF_FILE and field_short to 1; every later read fails the same way.
// Inside a sub-chunk such a failure is forgiven (see lwo_walk_subchunks).
uint8_t lwo_read_u1(LwReader* r);
uint16_t lwo_read_u2(LwReader* r);
uint32_t lwo_read_u4(LwReader* r);
float lwo_read_f4(LwReader* r);
uint32_t lwo_read_id4(LwReader* r);
// 0xFF first byte: the low 24 bits of a U4; otherwise a U2.
uint32_t lwo_read_vx(LwReader* r);
// NUL-terminated string plus a pad byte when its length with the NUL is odd; the result is owned
// by the caller (free) and holds no pad byte. Null on a failed read or no memory.
char* lwo_read_string(LwReader* r);
// Length plus the NUL, rounded up to even: the bytes a string takes in the file.
size_t lwo_padded_length(const char* s);

// Budgeted zeroed allocation for everything a load keeps; null (and status LWO_NO_MEMORY) when
// the budget or the system says no.
void* lwo_alloc(LwReader* r, size_t size);

LwObject* lwo_load(const char* file_name);
// The same from bytes in memory; name is what the layer names are made from.
LwObject* lwo_load_memory(const char* name, const uint8_t* data, size_t size);
void lwo_free(LwObject* object);

// Non-zero (the default): a failed load prints one line on standard error saying why.
extern int lwo_report_failures;
