// The LWO2 chunks that say how points and polygons look: vertex maps (VMAP), per-polygon maps
// (VMAD), surfaces with their texture blocks (SURF, BLOK), image clips (CLIP) and envelopes (ENVL).
#include <cstdlib>
#include <cstring>

#include "lwo/lwo_internal.h"

static size_t lwo_remaining(const LwReader* r) { return r->pos < r->limit ? r->limit - r->pos : 0; }

// A string field read again replaces the earlier one.
static void lwo_replace_string(LwReader* r, char** field) {
    char* s = lwo_read_string(r);
    if (!s) return;
    free(*field);
    *field = s;
}

static void lwo_read_value_envelope(LwReader* r, LwValueEnvelope* pair) {
    lwo_keep(r, &pair->value, lwo_read_f4(r));
    lwo_keep(r, &pair->envelope, lwo_read_vx(r));
}

// ---------------------------------------------------------------------------------------------
// Vertex maps.

void lwo_free_vertex_maps(LwVertexMap* map) {
    while (map) {
        LwVertexMap* next = map->next;
        free(map->map_name);
        free(map->entry_points);
        free(map->entry_values);
        free(map);
        map = next;
    }
}

void lwo_free_polygon_maps(LwPolygonMap* map) {
    while (map) {
        LwPolygonMap* next = map->next;
        free(map->map_name);
        free(map->entry_storage);
        free(map);
        map = next;
    }
}

int lwo_read_vmap(LwReader* r, LwLayer* layer) {
    LwVertexMap* map = static_cast<LwVertexMap*>(lwo_alloc(r, sizeof(LwVertexMap)));
    if (!map) return r->status;
    map->map_type = lwo_read_id4(r);
    map->dimension = lwo_read_u2(r);
    map->map_name = lwo_read_string(r);
    if (r->status != LWO_OK) {
        lwo_free_vertex_maps(map);
        return r->status;
    }
    // Room for as many entries as the rest of the chunk can hold with two-byte indices.
    size_t room = lwo_remaining(r) / (2 + 4 * size_t(map->dimension));
    map->entry_points = static_cast<int32_t*>(lwo_alloc(r, room * sizeof(int32_t)));
    map->entry_values = map->entry_points ? static_cast<float*>(lwo_alloc(r, room * map->dimension * sizeof(float))) : nullptr;
    if (!map->entry_values) {
        lwo_free_vertex_maps(map);
        return r->status;
    }
    uint32_t count = 0;
    while (r->pos < r->limit && count < room && r->status == LWO_OK) {
        map->entry_points[count] = int32_t(lwo_read_vx(r));
        float* values = map->entry_values + size_t(count) * map->dimension;
        for (unsigned c = 0; c < map->dimension; c++) values[c] = lwo_read_f4(r);
        if (r->status == LWO_OK) count++;
    }
    map->entry_count = count;
    if (r->status != LWO_OK) {
        lwo_free_vertex_maps(map);
        return r->status;
    }
    LwVertexMap** tail = &layer->vertex_maps;
    while (*tail) tail = &(*tail)->next;
    *tail = map;
    return LWO_OK;
}

int lwo_read_vmad(LwReader* r, LwLayer* layer) {
    LwPolygonMap* map = static_cast<LwPolygonMap*>(lwo_alloc(r, sizeof(LwPolygonMap)));
    if (!map) return r->status;
    map->map_type = lwo_read_id4(r);
    map->dimension = lwo_read_u2(r);
    map->map_name = lwo_read_string(r);
    if (r->status != LWO_OK) {
        lwo_free_polygon_maps(map);
        return r->status;
    }
    size_t room = lwo_remaining(r) / (4 + 4 * size_t(map->dimension));
    map->entry_storage = static_cast<LwPolygonMapEntry*>(lwo_alloc(r, room * sizeof(LwPolygonMapEntry)));
    if (!map->entry_storage) {
        lwo_free_polygon_maps(map);
        return r->status;
    }
    uint32_t count = 0;
    while (r->pos < r->limit && count < room && r->status == LWO_OK) {
        LwPolygonMapEntry* entry = &map->entry_storage[count];
        entry->point = int32_t(lwo_read_vx(r));
        entry->polygon_index = int32_t(lwo_read_vx(r));
        // The record holds four components; further ones are read past.
        for (unsigned c = 0; c < map->dimension; c++) {
            float value = lwo_read_f4(r);
            if (c < 4) entry->values[c] = value;
        }
        if (r->status != LWO_OK) break;
        entry->next = map->entries;
        map->entries = entry;
        count++;
    }
    map->entry_count = count;
    if (r->status != LWO_OK) {
        lwo_free_polygon_maps(map);
        return r->status;
    }
    map->next = layer->polygon_maps;
    layer->polygon_maps = map;
    return LWO_OK;
}

// ---------------------------------------------------------------------------------------------
// Clips and envelopes.

void lwo_free_clips(LwClip* clip) {
    while (clip) {
        LwClip* next = clip->next;
        free(clip->file_name);
        free(clip);
        clip = next;
    }
}

int lwo_read_clip(LwReader* r, LwLayer* layer) {
    LwClip* clip = static_cast<LwClip*>(lwo_alloc(r, sizeof(LwClip)));
    if (!clip) return r->status;
    clip->clip_index = lwo_read_u4(r);
    int result = lwo_walk_subchunks(r, r->limit, [&](uint32_t id, size_t) {
        if (id == lwo_id("STIL")) {
            char* name = lwo_read_string(r);
            if (!name) return r->status;
            // Only '/' separates folders here: the names come from the object's own system.
            const char* slash = strrchr(name, '/');
            if (slash) memmove(name, slash + 1, strlen(slash + 1) + 1);
            free(clip->file_name);
            clip->file_name = name;
        }
        return r->status;
    });
    if (result != LWO_OK || !clip->file_name) {
        lwo_free_clips(clip);  // a clip without a still image is not kept
        return result;
    }
    LwClip** tail = &layer->clips;
    while (*tail) tail = &(*tail)->next;
    *tail = clip;
    return LWO_OK;
}

void lwo_free_envelopes(LwEnvelope* envelope) {
    while (envelope) {
        LwEnvelope* next = envelope->next;
        LwEnvelopeKey* key = envelope->keys;
        while (key) {
            LwEnvelopeKey* k = key->next;
            free(key);
            key = k;
        }
        free(envelope);
        envelope = next;
    }
}

int lwo_read_envl(LwReader* r, LwLayer* layer) {
    LwEnvelope* envelope = static_cast<LwEnvelope*>(lwo_alloc(r, sizeof(LwEnvelope)));
    if (!envelope) return r->status;
    envelope->envelope_index = int32_t(lwo_read_vx(r));
    uint32_t span_type = 0;
    float span[7] = {};
    LwEnvelopeKey* last = nullptr;
    int result = lwo_walk_subchunks(r, r->limit, [&](uint32_t id, size_t) {
        switch (id) {
            case lwo_id("TYPE"):
                lwo_keep(r, &envelope->user_format, lwo_read_u1(r));
                lwo_keep(r, &envelope->envelope_type, lwo_read_u1(r));
                break;
            case lwo_id("PRE "):
                lwo_keep(r, &envelope->pre_behaviour, lwo_read_u2(r));
                break;
            case lwo_id("POST"): lwo_keep(r, &envelope->post_behaviour, lwo_read_u2(r)); break;
            case lwo_id("KEY "): {
                LwEnvelopeKey* key = static_cast<LwEnvelopeKey*>(lwo_alloc(r, sizeof(LwEnvelopeKey)));
                if (!key) return r->status;
                lwo_keep(r, &key->time, lwo_read_f4(r));
                lwo_keep(r, &key->value, lwo_read_f4(r));
                key->span_type = span_type;
                memcpy(key->span_parameters, span, sizeof span);
                if (last) last->next = key;
                else envelope->keys = key;
                last = key;
                break;
            }
            case lwo_id("SPAN"): {
                uint32_t type = lwo_read_id4(r);
                if (r->status != LWO_OK) break;  // no type: the span before stays
                span_type = type;
                memset(span, 0, sizeof span);
                int first = 0, count = 0;
                switch (span_type) {
                    case lwo_id("TCB "): first = 0, count = 3; break;
                    case lwo_id("HERM"):
                    case lwo_id("BEZI"): first = 3, count = 2; break;
                    case lwo_id("BEZ2"): first = 3, count = 4; break;
                    case lwo_id("LINE"):
                    case lwo_id("STEP"): break;
                    default: return r->status == LWO_OK ? int(LWO_WRONG_ID) : r->status;
                }
                for (int i = 0; i < count; i++) lwo_keep(r, &span[first + i], lwo_read_f4(r));
                if (last) {
                    last->span_type = span_type;
                    memcpy(last->span_parameters, span, sizeof span);
                }
                break;
            }
            default: break;  // NAME and others
        }
        return r->status;
    });
    if (result != LWO_OK) {
        lwo_free_envelopes(envelope);
        return result;
    }
    envelope->next = layer->envelopes;
    layer->envelopes = envelope;
    return LWO_OK;
}

// ---------------------------------------------------------------------------------------------
// Surfaces and texture blocks.

static void lwo_free_blocks(LwTextureBlock* block) {
    while (block) {
        LwTextureBlock* next = block->next;
        free(block->ordinal);
        if (block->transform) free(block->transform->reference_object);
        free(block->transform);
        if (block->image_map) free(block->image_map->map_name);
        free(block->image_map);
        if (block->procedural) {
            free(block->procedural->function_name);
            free(block->procedural->function_data);
        }
        free(block->procedural);
        if (block->gradient) {
            free(block->gradient->function_name);
            free(block->gradient->input_name);
            free(block->gradient->keys);
            free(block->gradient->key_shapes);
        }
        free(block->gradient);
        free(block);
        block = next;
    }
}

void lwo_free_surfaces(LwSurface* surface) {
    while (surface) {
        LwSurface* next = surface->next;
        free(surface->surface_name);
        free(surface->source_name);
        free(surface->vertex_colour_map_name);
        lwo_free_blocks(surface->blocks);
        free(surface);
        surface = next;
    }
}

static void lwo_read_vector_envelope(LwReader* r, float* v, int32_t* envelope) {
    for (int i = 0; i < 3; i++) lwo_keep(r, &v[i], lwo_read_f4(r));
    lwo_keep(r, envelope, lwo_read_vx(r));
}

static int lwo_read_tmap(LwReader* r, LwTextureBlock* block, size_t end) {
    if (!block->transform) {
        block->transform = static_cast<LwTextureTransform*>(lwo_alloc(r, sizeof(LwTextureTransform)));
        if (!block->transform) return r->status;
        LwTextureTransform* t = block->transform;
        t->centre_envelope = t->size_envelope = t->rotation_envelope = t->falloff_envelope = -1;
    }
    LwTextureTransform* t = block->transform;
    return lwo_walk_subchunks(r, end, [&](uint32_t id, size_t) {
        switch (id) {
            case lwo_id("CNTR"): lwo_read_vector_envelope(r, t->centre, &t->centre_envelope); break;
            case lwo_id("SIZE"): lwo_read_vector_envelope(r, t->size, &t->size_envelope); break;
            case lwo_id("ROTA"): lwo_read_vector_envelope(r, t->rotation, &t->rotation_envelope); break;
            case lwo_id("OREF"): lwo_replace_string(r, &t->reference_object); break;
            case lwo_id("FALL"):
                lwo_keep(r, &t->falloff_type, lwo_read_u2(r));
                lwo_read_vector_envelope(r, t->falloff, &t->falloff_envelope);
                break;
            case lwo_id("CSYS"): lwo_keep(r, &t->coordinate_system, lwo_read_u2(r)); break;
            default: break;
        }
        return r->status;
    });
}

static int lwo_read_imap(LwReader* r, LwTextureBlock* block, size_t end) {
    LwImageMap* m = block->image_map;
    return lwo_walk_subchunks(r, end, [&](uint32_t id, size_t body_end) {
        switch (id) {
            case lwo_id("PROJ"): lwo_keep(r, &m->projection, lwo_read_u2(r)); break;
            case lwo_id("AXIS"): lwo_keep(r, &m->axis, lwo_read_u2(r)); break;
            case lwo_id("IMAG"): lwo_keep(r, &m->image, lwo_read_vx(r)); break;
            case lwo_id("WRAP"):
                lwo_keep(r, &m->wrap_w, lwo_read_u2(r));
                lwo_keep(r, &m->wrap_h, lwo_read_u2(r));
                break;
            case lwo_id("WRPW"):
                lwo_keep(r, &m->wrap_w_amount, lwo_read_f4(r));
                lwo_keep(r, &m->wrap_w_envelope, lwo_read_vx(r));
                break;
            case lwo_id("WRPH"):
                lwo_keep(r, &m->wrap_h_amount, lwo_read_f4(r));
                lwo_keep(r, &m->wrap_h_envelope, lwo_read_vx(r));
                break;
            case lwo_id("VMAP"): lwo_replace_string(r, &m->map_name); break;
            case lwo_id("AAST"):
                lwo_keep(r, &m->antialias_flags, lwo_read_u2(r));
                lwo_keep(r, &m->antialias_strength, lwo_read_f4(r));
                break;
            case lwo_id("PIXB"): lwo_keep(r, &m->pixel_blending, lwo_read_u2(r)); break;
            case lwo_id("STCK"):
                lwo_keep(r, &m->sticky, lwo_read_u2(r));
                lwo_keep(r, &m->sticky_time, lwo_read_f4(r));
                break;
            case lwo_id("TAMP"):
                lwo_keep(r, &m->texture_amplitude, lwo_read_f4(r));
                lwo_keep(r, &m->texture_amplitude_envelope, lwo_read_vx(r));
                break;
            case lwo_id("TMAP"): return lwo_read_tmap(r, block, body_end);
            default: break;
        }
        return r->status;
    });
}

static int lwo_read_proc(LwReader* r, LwTextureBlock* block, size_t end) {
    LwProcedural* p = block->procedural;
    return lwo_walk_subchunks(r, end, [&](uint32_t id, size_t body_end) {
        switch (id) {
            case lwo_id("AXIS"): lwo_keep(r, &p->axis, lwo_read_u2(r)); break;
            case lwo_id("VALU"): {
                // The record holds three values; further ones are left unread.
                size_t count = lwo_remaining(r) / 4;
                p->value_count = int32_t(count < 3 ? count : 3);
                for (int i = 0; i < p->value_count; i++) p->values[i] = lwo_read_f4(r);
                break;
            }
            case lwo_id("FUNC"): {
                lwo_replace_string(r, &p->function_name);
                if (r->status != LWO_OK) break;
                size_t length = lwo_remaining(r);
                uint8_t* data = static_cast<uint8_t*>(lwo_alloc(r, length));
                if (!data) break;
                for (size_t i = 0; i < length; i++) data[i] = lwo_read_u1(r);
                free(p->function_data);
                p->function_data = data;
                p->function_data_length = uint32_t(length);
                break;
            }
            case lwo_id("TMAP"): return lwo_read_tmap(r, block, body_end);
            default: break;
        }
        return r->status;
    });
}

static int lwo_read_grad(LwReader* r, LwTextureBlock* block, size_t end) {
    LwGradient* g = block->gradient;
    return lwo_walk_subchunks(r, end, [&](uint32_t id, size_t) {
        switch (id) {
            case lwo_id("FNAM"): lwo_replace_string(r, &g->function_name); break;
            case lwo_id("INAM"): lwo_replace_string(r, &g->input_name); break;
            case lwo_id("GRST"): lwo_keep(r, &g->range_start, lwo_read_f4(r)); break;
            case lwo_id("GREN"): lwo_keep(r, &g->range_end, lwo_read_f4(r)); break;
            case lwo_id("GRPT"): lwo_keep(r, &g->repeat, lwo_read_u2(r)); break;
            case lwo_id("FKEY"): {
                size_t count = lwo_remaining(r) / 8;
                float* keys = static_cast<float*>(lwo_alloc(r, count * 2 * sizeof(float)));
                if (!keys) break;
                for (size_t i = 0; i < count * 2; i++) keys[i] = lwo_read_f4(r);
                free(g->keys);
                g->keys = keys;
                g->key_count = uint32_t(count);
                break;
            }
            case lwo_id("IKEY"): {
                // One shape per key of the last key list, as far as the sub-chunk holds them.
                size_t count = lwo_remaining(r) / 2;
                if (count > g->key_count) count = g->key_count;
                uint16_t* shapes = static_cast<uint16_t*>(lwo_alloc(r, count * sizeof(uint16_t)));
                if (!shapes) break;
                for (size_t i = 0; i < count; i++) shapes[i] = lwo_read_u2(r);
                free(g->key_shapes);
                g->key_shapes = shapes;
                g->key_shape_count = uint32_t(count);
                break;
            }
            default: break;
        }
        return r->status;
    });
}

static int lwo_read_blok(LwReader* r, LwSurface* surface, size_t end) {
    LwTextureBlock* block = static_cast<LwTextureBlock*>(lwo_alloc(r, sizeof(LwTextureBlock)));
    if (!block) return r->status;
    block->opacity_envelope = -1;
    LwTextureBlock** tail = &surface->blocks;
    while (*tail) tail = &(*tail)->next;
    *tail = block;

    // The header sub-chunk: its id is the block type.
    block->block_type = lwo_read_id4(r);
    uint16_t header_length = lwo_read_u2(r);
    if (r->status != LWO_OK) return r->status;
    if (header_length > end - r->pos) return r->status = LWO_END_OF_FILE;
    size_t header_end = r->pos + header_length;
    r->limit = header_end;
    block->ordinal = lwo_read_string(r);
    if (r->status != LWO_OK) return r->status;
    int result = lwo_walk_subchunks(r, header_end, [&](uint32_t id, size_t) {
        switch (id) {
            case lwo_id("CHAN"): lwo_keep(r, &block->channel, lwo_read_id4(r)); break;
            case lwo_id("ENAB"): lwo_keep(r, &block->enabled, lwo_read_u2(r)); break;
            case lwo_id("OPAC"):
                lwo_keep(r, &block->opacity_type, lwo_read_u2(r));
                lwo_keep(r, &block->opacity, lwo_read_f4(r));
                lwo_keep(r, &block->opacity_envelope, lwo_read_vx(r));
                break;
            case lwo_id("AXIS"): lwo_keep(r, &block->block_axis, lwo_read_u2(r)); break;
            default: break;
        }
        return r->status;
    });
    if (result != LWO_OK) return result;
    r->limit = end;
    r->pos = header_end + (header_length & 1);

    switch (block->block_type) {
        case lwo_id("IMAP"): {
            block->image_map = static_cast<LwImageMap*>(lwo_alloc(r, sizeof(LwImageMap)));
            if (!block->image_map) return r->status;
            LwImageMap* m = block->image_map;
            m->wrap_w_envelope = m->wrap_h_envelope = m->texture_amplitude_envelope = -1;
            return lwo_read_imap(r, block, end);
        }
        case lwo_id("PROC"):
            block->procedural = static_cast<LwProcedural*>(lwo_alloc(r, sizeof(LwProcedural)));
            if (!block->procedural) return r->status;
            return lwo_read_proc(r, block, end);
        case lwo_id("GRAD"):
            block->gradient = static_cast<LwGradient*>(lwo_alloc(r, sizeof(LwGradient)));
            if (!block->gradient) return r->status;
            return lwo_read_grad(r, block, end);
        default: return r->status;  // skipped to its end by the caller
    }
}

int lwo_read_surf(LwReader* r, LwLayer* first) {
    LwSurface* s = static_cast<LwSurface*>(lwo_alloc(r, sizeof(LwSurface)));
    if (!s) return r->status;
    LwValueEnvelope* pairs[] = {&s->diffuse, &s->luminosity, &s->specularity, &s->transparency,
                                &s->glossiness, &s->sharpness, &s->bump, &s->reflection_seam_angle,
                                &s->reflection_blur, &s->refractive_index, &s->refraction_blur,
                                &s->colour_highlights, &s->colour_filter, &s->additive_transparency,
                                &s->glow_intensity, &s->glow_size, &s->vertex_colour_intensity};
    for (LwValueEnvelope* pair : pairs) pair->envelope = -1;
    LwSurface** tail = &first->surfaces;
    while (*tail) tail = &(*tail)->next;
    *tail = s;  // owned by the list from here on, also when the rest fails

    s->surface_name = lwo_read_string(r);
    s->source_name = lwo_read_string(r);
    if (r->status != LWO_OK) return r->status;
    return lwo_walk_subchunks(r, r->limit, [&](uint32_t id, size_t body_end) {
        switch (id) {
            case lwo_id("COLR"):
                lwo_read_vector_envelope(r, s->colour, &s->colour_envelope);
                break;
            case lwo_id("DIFF"): lwo_read_value_envelope(r, &s->diffuse); break;
            case lwo_id("LUMI"): lwo_read_value_envelope(r, &s->luminosity); break;
            case lwo_id("SPEC"): lwo_read_value_envelope(r, &s->specularity); break;
            case lwo_id("TRAN"): lwo_read_value_envelope(r, &s->transparency); break;
            case lwo_id("GLOS"): lwo_read_value_envelope(r, &s->glossiness); break;
            case lwo_id("SHRP"): lwo_read_value_envelope(r, &s->sharpness); break;
            case lwo_id("BUMP"): lwo_read_value_envelope(r, &s->bump); break;
            case lwo_id("SIDE"): lwo_keep(r, &s->sidedness, lwo_read_u2(r)); break;
            case lwo_id("SMAN"): lwo_keep(r, &s->smoothing_angle, lwo_read_f4(r)); break;
            case lwo_id("RFOP"): lwo_keep(r, &s->reflection_options, lwo_read_u2(r)); break;
            case lwo_id("RIMG"): lwo_keep(r, &s->reflection_image, lwo_read_vx(r)); break;
            case lwo_id("RSAN"): lwo_read_value_envelope(r, &s->reflection_seam_angle); break;
            case lwo_id("RBLR"): lwo_read_value_envelope(r, &s->reflection_blur); break;
            case lwo_id("RIND"): lwo_read_value_envelope(r, &s->refractive_index); break;
            case lwo_id("TROP"): lwo_keep(r, &s->transparency_options, lwo_read_u2(r)); break;
            case lwo_id("TIMG"): lwo_keep(r, &s->refraction_image, lwo_read_vx(r)); break;
            case lwo_id("TBLR"): lwo_read_value_envelope(r, &s->refraction_blur); break;
            case lwo_id("CLRH"): lwo_read_value_envelope(r, &s->colour_highlights); break;
            case lwo_id("CLRF"): lwo_read_value_envelope(r, &s->colour_filter); break;
            case lwo_id("ADTR"): lwo_read_value_envelope(r, &s->additive_transparency); break;
            case lwo_id("GLOW"):
                lwo_keep(r, &s->glow_type, lwo_read_u2(r));
                lwo_read_value_envelope(r, &s->glow_intensity);
                lwo_read_value_envelope(r, &s->glow_size);
                break;
            case lwo_id("ALPH"):
                lwo_keep(r, &s->alpha_mode, lwo_read_u2(r));
                lwo_keep(r, &s->alpha_value, lwo_read_f4(r));
                break;
            case lwo_id("VCOL"):
                lwo_read_value_envelope(r, &s->vertex_colour_intensity);
                lwo_keep(r, &s->vertex_colour_map_type, lwo_read_id4(r));
                lwo_replace_string(r, &s->vertex_colour_map_name);
                break;
            case lwo_id("BLOK"): return lwo_read_blok(r, s, body_end);
            default: break;  // REFL, TRNL and others
        }
        return r->status;
    });
}
