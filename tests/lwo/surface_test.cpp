// Surfaces, texture blocks, vertex maps, per-polygon maps, clips and envelopes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lwo/lwo.h"
#include "lwo/lwo_writer.h"

namespace {

void start(LwoWriter* w) {
    lwo_writer_form(w);
    lwo_writer_chunk(w, "LAYR");
    lwo_writer_u2(w, 0), lwo_writer_u2(w, 0);
    for (int i = 0; i < 3; i++) lwo_writer_f4(w, 0);
    lwo_writer_string(w, "");
    lwo_writer_end(w);
    lwo_writer_chunk(w, "PNTS");
    for (int i = 0; i < 12; i++) lwo_writer_f4(w, float(i % 3));
    lwo_writer_end(w);
}

void clip(LwoWriter* w, uint32_t index, const char* still) {
    lwo_writer_chunk(w, "CLIP");
    lwo_writer_u4(w, index);
    lwo_writer_sub(w, "XREF");
    lwo_writer_u4(w, 1);
    lwo_writer_end(w);
    if (still) {
        lwo_writer_sub(w, "STIL");
        lwo_writer_string(w, still);
        lwo_writer_end(w);
    }
    lwo_writer_end(w);
}

void envelope_span(LwoWriter* w, const char* type, int values) {
    lwo_writer_sub(w, "SPAN");
    lwo_writer_id(w, type);
    for (int i = 0; i < values; i++) lwo_writer_f4(w, float(i + 1));
    lwo_writer_end(w);
}

void envelope_key(LwoWriter* w, float time, float value) {
    lwo_writer_sub(w, "KEY ");
    lwo_writer_f4(w, time);
    lwo_writer_f4(w, value);
    lwo_writer_end(w);
}

void pair(LwoWriter* w, const char* id, float value, uint32_t envelope) {
    lwo_writer_sub(w, id);
    lwo_writer_f4(w, value);
    lwo_writer_vx(w, envelope);
    lwo_writer_end(w);
}

void u2_sub(LwoWriter* w, const char* id, uint16_t value) {
    lwo_writer_sub(w, id);
    lwo_writer_u2(w, value);
    lwo_writer_end(w);
}

}  // namespace

TEST(Clips, DirectoryIsStrippedAtTheLastSlashOnly) {
    LwoWriter w;
    start(&w);
    clip(&w, 1, "images/wall.png");
    clip(&w, 2, "images\\wall.png");
    clip(&w, 3, nullptr);  // no still image: not kept
    clip(&w, 4, "a/b/c/");
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    const LwClip* c = object->clips;
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->clip_index, 1u);
    EXPECT_STREQ(c->file_name, "wall.png");
    ASSERT_NE(c->next, nullptr);
    EXPECT_STREQ(c->next->file_name, "images\\wall.png");
    ASSERT_NE(c->next->next, nullptr);
    EXPECT_EQ(c->next->next->clip_index, 4u);
    EXPECT_STREQ(c->next->next->file_name, "");
    EXPECT_EQ(c->next->next->next, nullptr);
    lwo_free(object);
}

TEST(Envelopes, ListedLastReadFirstWithSpansOnTheirKeys) {
    LwoWriter w;
    start(&w);
    lwo_writer_chunk(&w, "ENVL");
    lwo_writer_vx(&w, 1);
    lwo_writer_sub(&w, "TYPE");
    lwo_writer_u1(&w, 2), lwo_writer_u1(&w, 3);
    lwo_writer_end(&w);
    u2_sub(&w, "PRE ", 1);
    u2_sub(&w, "POST", 4);
    envelope_key(&w, 0.0f, 1.0f);
    envelope_span(&w, "TCB ", 3);
    envelope_key(&w, 1.0f, 2.0f);  // takes the current span
    envelope_span(&w, "BEZ2", 4);  // and this one replaces it on the last key
    lwo_writer_sub(&w, "NAME");
    lwo_writer_string(&w, "ignored");
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "ENVL");
    lwo_writer_vx(&w, 0x12345);
    envelope_key(&w, 0.0f, 5.0f);
    envelope_span(&w, "HERM", 2);
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "PNTS");  // read correctly after the HERM span
    for (int i = 0; i < 6; i++) lwo_writer_f4(&w, 9.0f);
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    const LwEnvelope* e = object->envelopes;
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->envelope_index, 0x12345);
    ASSERT_NE(e->keys, nullptr);
    EXPECT_EQ(e->keys->span_type, lwo_id("HERM"));
    EXPECT_EQ(e->keys->span_parameters[3], 1.0f);
    EXPECT_EQ(e->keys->span_parameters[4], 2.0f);
    EXPECT_EQ(e->keys->span_parameters[0], 0.0f);
    const LwEnvelope* first = e->next;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->envelope_index, 1);
    EXPECT_EQ(first->user_format, 2);
    EXPECT_EQ(first->envelope_type, 3);
    EXPECT_EQ(first->pre_behaviour, 1);
    EXPECT_EQ(first->post_behaviour, 4);
    const LwEnvelopeKey* k0 = first->keys;
    ASSERT_NE(k0, nullptr);
    EXPECT_EQ(k0->span_type, lwo_id("TCB "));
    EXPECT_EQ(k0->span_parameters[2], 3.0f);
    const LwEnvelopeKey* k1 = k0->next;
    ASSERT_NE(k1, nullptr);
    EXPECT_EQ(k1->value, 2.0f);
    EXPECT_EQ(k1->span_type, lwo_id("BEZ2"));
    EXPECT_EQ(k1->span_parameters[0], 0.0f) << "a new span clears the old parameters";
    EXPECT_EQ(k1->span_parameters[6], 4.0f);
    EXPECT_EQ(object->points->point_count, 2u);
    EXPECT_EQ(object->points->positions[0], 9.0f);
    lwo_free(object);
}

TEST(Envelopes, UnknownSpanFailsTheLoad) {
    LwoWriter w;
    start(&w);
    lwo_writer_chunk(&w, "ENVL");
    lwo_writer_vx(&w, 1);
    envelope_key(&w, 0.0f, 1.0f);
    envelope_span(&w, "WAVY", 0);
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    EXPECT_EQ(lwo_test_load(w.bytes), nullptr);
}

TEST(VertexMaps, EntriesOfEveryDimensionStayInTheirRecords) {
    LwoWriter w;
    start(&w);
    // Dimension 0: two-byte entries, more of them than a naive estimate of the room allows.
    lwo_writer_chunk(&w, "VMAP");
    lwo_writer_id(&w, "PICK");
    lwo_writer_u2(&w, 0);
    lwo_writer_string(&w, "sel");
    for (uint32_t i = 0; i < 3; i++) lwo_writer_vx(&w, i);
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "VMAP");
    lwo_writer_id(&w, "TXUV");
    lwo_writer_u2(&w, 2);
    lwo_writer_string(&w, "uv");
    lwo_writer_vx(&w, 0x10000), lwo_writer_f4(&w, 0.5f), lwo_writer_f4(&w, 0.25f);
    lwo_writer_vx(&w, 3), lwo_writer_f4(&w, 1.0f), lwo_writer_f4(&w, 2.0f);
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    const LwVertexMap* pick = object->vertex_maps;
    ASSERT_NE(pick, nullptr);
    EXPECT_EQ(pick->entry_count, 3u);
    EXPECT_EQ(pick->entry_points[2], 2);
    const LwVertexMap* uv = pick->next;
    ASSERT_NE(uv, nullptr);
    EXPECT_STREQ(uv->map_name, "uv");
    ASSERT_EQ(uv->entry_count, 2u);
    EXPECT_EQ(uv->entry_points[0], 0x10000);
    EXPECT_EQ(uv->entry_values[1], 0.25f);
    EXPECT_EQ(uv->entry_values[3], 2.0f);
    EXPECT_EQ(object->points->maps[LWO_SLOT_PICK], pick);
    EXPECT_EQ(object->points->maps[LWO_SLOT_TXUV], uv);
    lwo_free(object);
}

TEST(VertexMaps, PerPolygonEntriesListMostRecentFirst) {
    LwoWriter w;
    start(&w);
    lwo_writer_chunk(&w, "VMAD");
    lwo_writer_id(&w, "TXUV");
    lwo_writer_u2(&w, 5);  // one component more than an entry holds
    lwo_writer_string(&w, "seam");
    for (uint32_t i = 0; i < 3; i++) {
        lwo_writer_vx(&w, i), lwo_writer_vx(&w, 10 + i);
        for (int c = 0; c < 5; c++) lwo_writer_f4(&w, float(i * 10 + c));
    }
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    const LwPolygonMap* map = object->polygon_maps;
    ASSERT_NE(map, nullptr);
    const LwPolygonMapEntry* e = map->entries;
    int expected[] = {2, 1, 0};
    for (int k = 0; k < 3; k++, e = e->next) {
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->point, expected[k]);
        EXPECT_EQ(e->polygon_index, 10 + expected[k]);
        EXPECT_EQ(e->values[3], float(expected[k] * 10 + 3));
    }
    EXPECT_EQ(e, nullptr);
    lwo_free(object);
}

TEST(Surfaces, DefaultsAndEverySubChunkInItsField) {
    LwoWriter w;
    start(&w);
    lwo_writer_chunk(&w, "SURF");
    lwo_writer_string(&w, "bare");
    lwo_writer_string(&w, "");
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "SURF");
    lwo_writer_string(&w, "full");
    lwo_writer_string(&w, "src");
    lwo_writer_sub(&w, "COLR");
    lwo_writer_f4(&w, 1.0f), lwo_writer_f4(&w, 0.5f), lwo_writer_f4(&w, 0.25f);
    lwo_writer_vx(&w, 6);
    lwo_writer_end(&w);
    pair(&w, "LUMI", 0.1f, 2);
    pair(&w, "TRAN", 0.6f, 3);
    pair(&w, "ADTR", 0.7f, 0);
    u2_sub(&w, "SIDE", 3);
    lwo_writer_sub(&w, "SMAN");
    lwo_writer_f4(&w, 1.5f);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "GLOW");
    lwo_writer_u2(&w, 1), lwo_writer_f4(&w, 0.5f), lwo_writer_vx(&w, 1), lwo_writer_f4(&w, 2.0f), lwo_writer_vx(&w, 2);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "VCOL");
    lwo_writer_f4(&w, 1.0f), lwo_writer_vx(&w, 0), lwo_writer_id(&w, "RGBA"), lwo_writer_string(&w, "paint");
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "REFL");  // skipped
    lwo_writer_u2(&w, 1);
    lwo_writer_end(&w);
    // An image block with every header field and a transform.
    lwo_writer_sub(&w, "BLOK");
    lwo_writer_sub(&w, "IMAP");
    lwo_writer_string(&w, "\x80");
    lwo_writer_sub(&w, "CHAN"), lwo_writer_id(&w, "COLR"), lwo_writer_end(&w);
    u2_sub(&w, "ENAB", 1);
    lwo_writer_sub(&w, "OPAC"), lwo_writer_u2(&w, 2), lwo_writer_f4(&w, 0.75f), lwo_writer_vx(&w, 0), lwo_writer_end(&w);
    u2_sub(&w, "AXIS", 1);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "TMAP");
    lwo_writer_sub(&w, "CNTR");
    for (int i = 0; i < 3; i++) lwo_writer_f4(&w, float(i + 1));
    lwo_writer_vx(&w, 0);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "OREF"), lwo_writer_string(&w, "(none)"), lwo_writer_end(&w);
    lwo_writer_end(&w);
    u2_sub(&w, "PROJ", 5);
    u2_sub(&w, "AXIS", 3);
    lwo_writer_sub(&w, "VMAP"), lwo_writer_string(&w, "uv"), lwo_writer_end(&w);
    lwo_writer_sub(&w, "WRAP"), lwo_writer_u2(&w, 1), lwo_writer_u2(&w, 2), lwo_writer_end(&w);
    lwo_writer_end(&w);
    // A procedural block with more values than the record holds.
    lwo_writer_sub(&w, "BLOK");
    lwo_writer_sub(&w, "PROC");
    lwo_writer_string(&w, "\x81");
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "VALU");
    for (int i = 0; i < 4; i++) lwo_writer_f4(&w, float(i + 1));
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "FUNC"), lwo_writer_string(&w, "Turbulence"), lwo_writer_u1(&w, 9), lwo_writer_u1(&w, 8), lwo_writer_end(&w);
    lwo_writer_end(&w);
    // A gradient block, and a block of an unknown type that is passed over.
    lwo_writer_sub(&w, "BLOK");
    lwo_writer_sub(&w, "GRAD");
    lwo_writer_string(&w, "\x82");
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "FKEY");
    for (int i = 0; i < 4; i++) lwo_writer_f4(&w, float(i));
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "IKEY"), lwo_writer_u2(&w, 1), lwo_writer_u2(&w, 2), lwo_writer_u2(&w, 3), lwo_writer_end(&w);
    lwo_writer_sub(&w, "INAM"), lwo_writer_string(&w, "Slope"), lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "BLOK");
    lwo_writer_sub(&w, "SHDR");
    lwo_writer_string(&w, "\x83");
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "FUNC"), lwo_writer_string(&w, "x"), lwo_writer_end(&w);
    lwo_writer_end(&w);
    pair(&w, "DIFF", 0.9f, 0);  // after the blocks
    lwo_writer_end(&w);
    lwo_writer_end(&w);

    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    const LwSurface* bare = object->surfaces;
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->diffuse.value, 0.0f);
    EXPECT_EQ(bare->diffuse.envelope, -1);
    EXPECT_EQ(bare->additive_transparency.envelope, -1);
    EXPECT_EQ(bare->colour_envelope, 0);
    EXPECT_EQ(bare->blocks, nullptr);
    const LwSurface* s = bare->next;
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->source_name, "src");
    EXPECT_EQ(s->colour[1], 0.5f);
    EXPECT_EQ(s->colour_envelope, 6);
    EXPECT_EQ(s->luminosity.envelope, 2);
    EXPECT_EQ(s->transparency.value, 0.6f);
    EXPECT_EQ(s->additive_transparency.value, 0.7f);
    EXPECT_EQ(s->sidedness, 3);
    EXPECT_EQ(s->smoothing_angle, 1.5f);
    EXPECT_EQ(s->glow_size.value, 2.0f);
    EXPECT_EQ(s->glow_size.envelope, 2);
    EXPECT_EQ(s->vertex_colour_map_type, lwo_id("RGBA"));
    EXPECT_STREQ(s->vertex_colour_map_name, "paint");
    EXPECT_EQ(s->diffuse.value, 0.9f);

    const LwTextureBlock* b = s->blocks;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->block_type, lwo_id("IMAP"));
    EXPECT_EQ(b->channel, lwo_id("COLR"));
    EXPECT_EQ(b->opacity, 0.75f);
    EXPECT_EQ(b->block_axis, 1);
    ASSERT_NE(b->image_map, nullptr);
    EXPECT_EQ(b->image_map->projection, 5);
    EXPECT_EQ(b->image_map->axis, 3);
    EXPECT_EQ(b->image_map->wrap_h, 2);
    EXPECT_STREQ(b->image_map->map_name, "uv");
    ASSERT_NE(b->transform, nullptr);
    EXPECT_EQ(b->transform->centre[2], 3.0f);
    EXPECT_EQ(b->transform->size_envelope, -1);
    EXPECT_STREQ(b->transform->reference_object, "(none)");

    const LwTextureBlock* p = b->next;
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->procedural, nullptr);
    EXPECT_EQ(p->procedural->value_count, 3);
    EXPECT_EQ(p->procedural->values[2], 3.0f);
    EXPECT_STREQ(p->procedural->function_name, "Turbulence");
    ASSERT_EQ(p->procedural->function_data_length, 2u);
    EXPECT_EQ(p->procedural->function_data[1], 8);

    const LwTextureBlock* g = p->next;
    ASSERT_NE(g, nullptr);
    ASSERT_NE(g->gradient, nullptr);
    EXPECT_EQ(g->gradient->key_count, 2u);
    EXPECT_EQ(g->gradient->keys[3], 3.0f);
    EXPECT_EQ(g->gradient->key_shape_count, 2u) << "one shape per key, the rest of IKEY ignored";
    EXPECT_STREQ(g->gradient->input_name, "Slope");

    const LwTextureBlock* other = g->next;
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->block_type, lwo_id("SHDR"));
    EXPECT_EQ(other->procedural, nullptr);
    EXPECT_EQ(other->next, nullptr);
    lwo_free(object);
}

// Exporters write sub-chunks shorter than their fields (a 2-byte value under a float's id): each
// body is read only within its declared length, fields that do not fit keep their defaults and the
// rest of the surface, its blocks, the clip and the chunks after them are read as written.
TEST(ShortSubChunks, FieldsThatDoNotFitKeepTheirDefaultsAndTheObjectLoads) {
    LwoWriter w;
    start(&w);
    lwo_writer_chunk(&w, "CLIP");
    lwo_writer_u4(&w, 7);
    lwo_writer_sub(&w, "STIL");  // a name without its NUL: not a name
    lwo_writer_u1(&w, 'x');
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "STIL");
    lwo_writer_string(&w, "images/wall.png");
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "SURF");
    lwo_writer_string(&w, "short");
    lwo_writer_string(&w, "");
    lwo_writer_sub(&w, "COLR");
    lwo_writer_f4(&w, 0.5f);  // one colour of three, no envelope
    lwo_writer_end(&w);
    u2_sub(&w, "DIFF", 0x3F80);  // a 2-byte value where a float and an envelope belong
    lwo_writer_sub(&w, "SPEC");
    lwo_writer_f4(&w, 0.25f);  // the value without its envelope
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "BLOK");
    lwo_writer_sub(&w, "IMAP");
    lwo_writer_string(&w, "\x80");
    lwo_writer_sub(&w, "CHAN"), lwo_writer_u2(&w, 0x434F), lwo_writer_end(&w);
    lwo_writer_sub(&w, "OPAC"), lwo_writer_u2(&w, 1), lwo_writer_f4(&w, 0.5f), lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "TMAP");
    lwo_writer_sub(&w, "CNTR");
    lwo_writer_f4(&w, 4.0f), lwo_writer_f4(&w, 5.0f);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "SIZE");
    for (int i = 0; i < 3; i++) lwo_writer_f4(&w, 2.0f);
    lwo_writer_vx(&w, 3);
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "PROJ"), lwo_writer_u1(&w, 1), lwo_writer_end(&w);
    u2_sub(&w, "AXIS", 1);
    lwo_writer_sub(&w, "VMAP"), lwo_writer_string(&w, "uv"), lwo_writer_end(&w);
    lwo_writer_end(&w);
    pair(&w, "TRAN", 0.5f, 4);
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "ENVL");
    lwo_writer_vx(&w, 1);
    envelope_key(&w, 0.0f, 1.0f);
    envelope_span(&w, "HERM", 1);  // one parameter of two
    lwo_writer_sub(&w, "SPAN"), lwo_writer_u2(&w, 0x4C49), lwo_writer_end(&w);  // half an id
    envelope_key(&w, 1.0f, 2.0f);
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "SURF");  // the chunk after them
    lwo_writer_string(&w, "next");
    lwo_writer_string(&w, "");
    pair(&w, "LUMI", 0.75f, 2);
    lwo_writer_end(&w);
    lwo_writer_end(&w);

    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    ASSERT_NE(object->clips, nullptr);
    EXPECT_EQ(object->clips->clip_index, 7u);
    EXPECT_STREQ(object->clips->file_name, "wall.png");

    const LwSurface* s = object->surfaces;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->colour[0], 0.5f);
    EXPECT_EQ(s->colour[1], 0.0f);
    EXPECT_EQ(s->colour_envelope, 0);
    EXPECT_EQ(s->diffuse.value, 0.0f);
    EXPECT_EQ(s->diffuse.envelope, -1);
    EXPECT_EQ(s->specularity.value, 0.25f);
    EXPECT_EQ(s->specularity.envelope, -1);
    EXPECT_EQ(s->transparency.value, 0.5f);
    EXPECT_EQ(s->transparency.envelope, 4);

    const LwTextureBlock* b = s->blocks;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->channel, 0u);
    EXPECT_EQ(b->opacity_type, 1);
    EXPECT_EQ(b->opacity, 0.5f);
    EXPECT_EQ(b->opacity_envelope, -1);
    ASSERT_NE(b->transform, nullptr);
    EXPECT_EQ(b->transform->centre[1], 5.0f);
    EXPECT_EQ(b->transform->centre[2], 0.0f);
    EXPECT_EQ(b->transform->centre_envelope, -1);
    EXPECT_EQ(b->transform->size[2], 2.0f);
    EXPECT_EQ(b->transform->size_envelope, 3);
    ASSERT_NE(b->image_map, nullptr);
    EXPECT_EQ(b->image_map->projection, 0);
    EXPECT_EQ(b->image_map->axis, 1);
    EXPECT_STREQ(b->image_map->map_name, "uv");

    const LwEnvelope* e = object->envelopes;
    ASSERT_NE(e, nullptr);
    const LwEnvelopeKey* k = e->keys;
    ASSERT_TRUE(k && k->next);
    EXPECT_EQ(k->span_type, lwo_id("HERM"));
    EXPECT_EQ(k->span_parameters[3], 1.0f);
    EXPECT_EQ(k->span_parameters[4], 0.0f);
    EXPECT_EQ(k->next->value, 2.0f);
    EXPECT_EQ(k->next->span_type, lwo_id("HERM")) << "a span without its id changes nothing";

    ASSERT_NE(s->next, nullptr);
    EXPECT_STREQ(s->next->surface_name, "next");
    EXPECT_EQ(s->next->luminosity.envelope, 2);
    lwo_free(object);
}

// Lengths that disagree with the structure still fail: a sub-chunk whose declared length runs past
// its surface or its block, and a chunk that runs past the file.
TEST(ShortSubChunks, LengthsPastTheEnclosingChunkStillFail) {
    for (int variant = 0; variant < 3; variant++) {
        SCOPED_TRACE(variant);
        LwoWriter w;
        start(&w);
        lwo_writer_chunk(&w, "SURF");
        lwo_writer_string(&w, "s");
        lwo_writer_string(&w, "");
        lwo_writer_sub(&w, "BLOK");
        lwo_writer_sub(&w, "IMAP");
        lwo_writer_string(&w, "\x80");
        lwo_writer_end(&w);
        u2_sub(&w, "PROJ", 5);
        lwo_writer_end(&w);
        lwo_writer_end(&w);
        lwo_writer_end(&w);
        std::vector<uint8_t> bytes = w.bytes;
        size_t surf = 0;
        for (size_t i = 0; i + 4 <= bytes.size(); i++)
            if (memcmp(&bytes[i], "SURF", 4) == 0) surf = i;
        auto grow_u2 = [&](const char* id) {
            for (size_t i = surf; i + 6 <= bytes.size(); i++)
                if (memcmp(&bytes[i], id, 4) == 0) { bytes[i + 5] += 40; return; }
        };
        if (variant == 0) grow_u2("BLOK");        // past the surface
        else if (variant == 1) grow_u2("PROJ");   // past the block
        else bytes[surf + 7] += 40;               // the surface past the file
        EXPECT_EQ(lwo_test_load(bytes), nullptr);
    }
}
