// Pieces of the LWO2 reader shared by its source files; not for other modules.
#pragma once
#include "lwo/lwo.h"

// Chunk readers for the surface, map, clip and envelope chunks. Each is called with the reader
// limited to the chunk's body and returns a reader result.
int lwo_read_vmap(LwReader* r, LwLayer* layer);
int lwo_read_vmad(LwReader* r, LwLayer* layer);
int lwo_read_surf(LwReader* r, LwLayer* first);
int lwo_read_clip(LwReader* r, LwLayer* layer);
int lwo_read_envl(LwReader* r, LwLayer* layer);

// Release of the records those readers make (null accepted, whole lists).
void lwo_free_vertex_maps(LwVertexMap* map);
void lwo_free_polygon_maps(LwPolygonMap* map);
void lwo_free_surfaces(LwSurface* surface);
void lwo_free_clips(LwClip* clip);
void lwo_free_envelopes(LwEnvelope* envelope);

// A polygon record with room for count corners (corners, map entries, corner maps).
LwPolygon* lwo_polygon_new(LwReader* r, uint16_t count);

// Projected texture maps of one layer, generated from the surfaces' image maps.
void lwo_project_layer(LwReader* r, LwLayer* layer);

// Post-processing of every layer, then the release of the borrowed lists; LWO_OK or a result.
int lwo_post_process(LwReader* r, LwLayer* first, const char* name);

// Value of component c of entry k of a map, 0 beyond its dimension.
inline float lwo_map_value(const LwVertexMap* map, uint32_t k, unsigned c) {
    if (c >= map->dimension || k >= map->entry_count) return 0.0f;
    return map->entry_values[size_t(k) * map->dimension + c];
}

// Stores a value just read only when the read succeeded: a field that did not fit keeps its default.
template <typename T, typename V>
inline void lwo_keep(const LwReader* r, T* field, V value) {
    if (r->status == LWO_OK) *field = T(value);
}

// Walks the sub-chunks (ID4, U2 length, body, pad byte when odd) from the reader's position to end.
// Each body is read by read(id, body_end) with the reader limited to it; afterwards the position is
// set to the padded end whatever the body reader consumed. Exporters write sub-chunks shorter than
// their fields, so a field that does not fit in its body ends that body only: the fields not read
// keep their defaults and the walk goes on. Headers that overrun, and other failures, stop it.
template <typename F>
int lwo_walk_subchunks(LwReader* r, size_t end, F&& read) {
    while (r->pos < end && r->status == LWO_OK) {
        if (end - r->pos < 6) return r->status = LWO_END_OF_FILE;
        r->limit = end;
        uint32_t id = lwo_read_id4(r);
        uint16_t length = lwo_read_u2(r);
        if (length > end - r->pos) return r->status = LWO_END_OF_FILE;
        size_t body_end = r->pos + length;
        r->limit = body_end;
        r->field_short = 0;
        int result = read(id, body_end);
        r->limit = end;
        if (r->status == LWO_END_OF_FILE && r->field_short && (result == LWO_OK || result == LWO_END_OF_FILE)) {
            r->status = result = LWO_OK;
            r->field_short = 0;
        }
        if (result != LWO_OK) {
            if (r->status == LWO_OK) r->status = result;
            return result;
        }
        if (r->status != LWO_OK) return r->status;
        r->pos = body_end + (length & 1);
    }
    r->limit = end;
    return r->status;
}
