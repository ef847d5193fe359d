// Camera matrices, the per-frame mesh transform, the three lighting models, and the normals and
// tangents computed once per mesh.
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "render3d/clip.h"
#include "render3d/mesh.h"
#include "render3d/mesh_lanes.h"

void camera_update(Camera* camera) {
    mat_look_at(&camera->view, &camera->eye, &camera->target);
    Vec3 f = {camera->view.m[2], camera->view.m[6], camera->view.m[10]};
    vec3_normalize(&f, &camera->forward);
    float w = (float)camera->viewport_w, h = (float)camera->viewport_h;
    float aspect = w >= h ? w / h : h / w;
    mat_perspective(&camera->projection, aspect, camera->fov, camera->fov, camera->near, camera->far);
    mat_viewport(&camera->viewport, (float)camera->viewport_x, (float)camera->viewport_y, w, h);
    mat_multiply(&camera->projection, &camera->viewport, &camera->screen);
}

void camera_set_screen(Camera* camera, float near, float far) {
    camera->near = near;
    camera->far = far;
    camera->fov = 45.0f;
    camera->viewport_x = 0;
    camera->viewport_y = 0;
    camera->viewport_w = 640;
    camera->viewport_h = 480;
    camera_update(camera);
    clip_set_depth(near, far);
    clip_set_rect(0.0f, 0.0f, 640.0f, 480.0f);
}

void camera_orbit(Camera* camera, float polar, float azimuth, float radius, const Vec3* centre) {
    camera->eye.x = std::cos(azimuth) * std::sin(polar) * radius;
    camera->eye.y = std::sin(azimuth) * std::sin(polar) * radius;
    camera->eye.z = std::cos(polar) * radius;
    camera->target = Vec3{0.0f, 0.0f, 0.0f};
    if (centre) {
        vec3_add(&camera->eye, centre, &camera->eye);
        vec3_add(&camera->target, centre, &camera->target);
    }
}

void camera_object_matrices(const Camera* camera, const Matrix* object, Matrix* out_screen,
                            Matrix* out_normal, Matrix* out_model_view) {
    Matrix model_view, inverse;
    mat_multiply(object, &camera->view, &model_view);
    if (out_screen) mat_multiply(&model_view, &camera->screen, out_screen);
    mat_invert(&model_view, &inverse);
    mat_transpose(&inverse, out_normal);
    if (out_model_view) *out_model_view = model_view;
}

void camera_view_dir_in_object(const Camera* camera, const Matrix* object, Vec3* out) {
    Matrix model_view, inverse;
    mat_multiply(object, &camera->view, &model_view);
    mat_invert(&model_view, &inverse);
    const Vec3 z = {0.0f, 0.0f, 1.0f};
    mat_rotate_vector(&inverse, &z, out);
    vec3_normalize(out, out);
}

#if MESH_LANES
// lanes_normalize_store(lanes_rotate(n, source)) for every record, four at a time.
template <class Record>
static void rotate_normalize_records(const Matrix* normal_matrix, Record* records, int32_t count,
                                     Vec3 Record::*source, Vec3 Record::*target) {
    const float* e = normal_matrix->m;
    int32_t i = 0;
    if (count >= 4) {
        const Lanes3 c0 = {_mm_set1_ps(e[0]), _mm_set1_ps(e[1]), _mm_set1_ps(e[2])};
        const Lanes3 c1 = {_mm_set1_ps(e[4]), _mm_set1_ps(e[5]), _mm_set1_ps(e[6])};
        const Lanes3 c2 = {_mm_set1_ps(e[8]), _mm_set1_ps(e[9]), _mm_set1_ps(e[10])};
        for (; i + 4 <= count; i += 4) {
            Record* r = &records[i];
            const Lanes3 v = lanes3_load(&(r[0].*source), &(r[1].*source), &(r[2].*source), &(r[3].*source));
            const Lanes3 turned = lanes3_add(lanes3_add(lanes3_scale(c0, v.x), lanes3_scale(c1, v.y)), lanes3_scale(c2, v.z));
            lanes3_store(lanes3_normalized(turned), &(r[0].*target), &(r[1].*target), &(r[2].*target), &(r[3].*target));
        }
    }
    if (i < count) {
        const MatrixLanes n = matrix_lanes(normal_matrix);
        for (; i < count; i++) lanes_normalize_store(lanes_rotate(&n, &(records[i].*source)), &(records[i].*target));
    }
}

// mesh_transform in four lanes: the same values, one vertex per step, the normals four at a time.
static void mesh_transform_lanes(Mesh* mesh, const Matrix* matrix, const Matrix* normal_matrix, int32_t parts) {
    const MatrixLanes m = matrix_lanes(matrix);
    if (mesh->flags & MESH_PROJECTIVE) {
        for (int32_t i = 0; i < mesh->vertex_count; i++) {
            MeshVertex* v = &mesh->vertices[i];
            lanes_vertex_project(&m, v->px, v->py, v->pz, v);
        }
    } else {
        for (int32_t i = 0; i < mesh->vertex_count; i++) {
            MeshVertex* v = &mesh->vertices[i];
            _mm_storeu_ps(&v->sx, lanes_point(&m, v->px, v->py, v->pz));
        }
    }
    if (parts & MESH_PART_NORMALS)
        rotate_normalize_records(normal_matrix, mesh->normals, mesh->vertex_count, &VertexNormal::normal,
                                 &VertexNormal::world_normal);
    if ((parts & MESH_PART_TANGENTS) && mesh->tangents)
        rotate_normalize_records(normal_matrix, mesh->tangents, mesh->vertex_count, &VertexTangent::tangent,
                                 &VertexTangent::world_tangent);
    if (parts & MESH_PART_FACES)
        rotate_normalize_records(normal_matrix, mesh->triangles, mesh->triangle_count, &MeshTriangle::normal,
                                 &MeshTriangle::world_normal);
}
#endif

void mesh_transform(Mesh* mesh, const Matrix* matrix, const Matrix* normal_matrix, int32_t parts) {
#if MESH_LANES
    if (mesh_lanes_on()) {
        mesh_transform_lanes(mesh, matrix, normal_matrix, parts);
        return;
    }
#endif
    const float* m = matrix->m;
    if (mesh->flags & MESH_PROJECTIVE) {
        for (int32_t i = 0; i < mesh->vertex_count; i++) {
            MeshVertex* v = &mesh->vertices[i];
            vertex_project(m, v->px, v->py, v->pz, v);
        }
    } else {
        for (int32_t i = 0; i < mesh->vertex_count; i++) {
            MeshVertex* v = &mesh->vertices[i];
            float x = v->px, y = v->py, z = v->pz;
            v->sx = x * m[0] + y * m[4] + z * m[8] + m[12];
            v->sy = x * m[1] + y * m[5] + z * m[9] + m[13];
            v->sz = x * m[2] + y * m[6] + z * m[10] + m[14];
            v->rhw = x * m[3] + y * m[7] + z * m[11] + m[15];
        }
    }
    if (parts & MESH_PART_NORMALS) {
        for (int32_t i = 0; i < mesh->vertex_count; i++) {
            VertexNormal* n = &mesh->normals[i];
            mat_rotate_vector(normal_matrix, &n->normal, &n->world_normal);
            vec3_normalize(&n->world_normal, &n->world_normal);
        }
    }
    if ((parts & MESH_PART_TANGENTS) && mesh->tangents) {
        for (int32_t i = 0; i < mesh->vertex_count; i++) {
            VertexTangent* t = &mesh->tangents[i];
            mat_rotate_vector(normal_matrix, &t->tangent, &t->world_tangent);
            vec3_normalize(&t->world_tangent, &t->world_tangent);
        }
    }
    if (parts & MESH_PART_FACES) {
        for (int32_t i = 0; i < mesh->triangle_count; i++) {
            MeshTriangle* t = &mesh->triangles[i];
            mat_rotate_vector(normal_matrix, &t->normal, &t->world_normal);
            vec3_normalize(&t->world_normal, &t->world_normal);
        }
    }
}

// Light term with the fixed ambient floor; |d| on double-sided meshes.
static float light_term(const Vec3* normal, const Vec3* light, int double_sided) {
    float d = vec3_dot(normal, light);
    if (double_sided) d = std::fabs(d);
    return d < 0.15f ? 0.15f : d;
}

// Truncated, and kept within the byte so that a light slightly longer than unit length cannot
// carry into the neighbouring channel.
static uint32_t byte_scaled(uint32_t value, float d) {
    float f = (float)value * d;
    return f >= 255.0f ? 255u : (uint32_t)f;
}

#if MESH_LANES
// byte_scaled on four bytes at once, one per lane, by the light term in every lane of d.
static inline __m128i lanes_scaled(__m128i bytes, __m128 d) {
    const __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(bytes), d);
    const __m128i full = _mm_castps_si128(_mm_cmpge_ps(f, _mm_set1_ps(255.0f)));
    return _mm_or_si128(_mm_and_si128(full, _mm_set1_epi32(255)), _mm_andnot_si128(full, _mm_cvttps_epi32(f)));
}

// byte_scaled on the four bytes of c at once, byte k in lane k.
static uint32_t lanes_bytes_scaled(uint32_t c, float d) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128((int)c), zero), zero);
    return (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(lanes_scaled(bytes, _mm_set1_ps(d)), zero), zero));
}

// light_flat four triangles at a time: their light terms in lanes, then their sixteen bytes scaled
// as lanes_bytes_scaled does and packed together. Returns where the one-at-a-time loop takes over.
static int32_t light_flat_lanes(Mesh* mesh, const Vec3* light, int double_sided) {
    const Lanes3 l = {_mm_set1_ps(light->x), _mm_set1_ps(light->y), _mm_set1_ps(light->z)};
    const __m128 least = _mm_set1_ps(0.15f), magnitude = double_sided ? _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF))
                                                                     : _mm_castsi128_ps(_mm_set1_epi32(-1));
    const __m128i zero = _mm_setzero_si128();
    MeshTriangle* t = mesh->triangles;
    int32_t i = 0;
    for (; i + 4 <= mesh->triangle_count; i += 4) {
        const Lanes3 n = lanes3_load(&t[i].world_normal, &t[i + 1].world_normal, &t[i + 2].world_normal, &t[i + 3].world_normal);
        __m128 d = _mm_and_ps(lanes3_dot(n, l), magnitude);
        const __m128 low = _mm_cmplt_ps(d, least);
        d = _mm_or_ps(_mm_and_ps(low, least), _mm_andnot_ps(low, d));
        const __m128i c = _mm_setr_epi32((int)t[i].base_colour, (int)t[i + 1].base_colour, (int)t[i + 2].base_colour,
                                         (int)t[i + 3].base_colour);
        const __m128i low_pair = _mm_unpacklo_epi8(c, zero), high_pair = _mm_unpackhi_epi8(c, zero);
        const __m128i s0 = lanes_scaled(_mm_unpacklo_epi16(low_pair, zero), _mm_shuffle_ps(d, d, _MM_SHUFFLE(0, 0, 0, 0)));
        const __m128i s1 = lanes_scaled(_mm_unpackhi_epi16(low_pair, zero), _mm_shuffle_ps(d, d, _MM_SHUFFLE(1, 1, 1, 1)));
        const __m128i s2 = lanes_scaled(_mm_unpacklo_epi16(high_pair, zero), _mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 2, 2, 2)));
        const __m128i s3 = lanes_scaled(_mm_unpackhi_epi16(high_pair, zero), _mm_shuffle_ps(d, d, _MM_SHUFFLE(3, 3, 3, 3)));
        alignas(16) uint32_t lit[4];
        _mm_store_si128((__m128i*)lit, _mm_packus_epi16(_mm_packs_epi32(s0, s1), _mm_packs_epi32(s2, s3)));
        for (int k = 0; k < 4; k++) t[i + k].lit_colour = lit[k];
    }
    return i;
}
#endif

static void light_flat(Mesh* mesh, const Vec3* light, int double_sided) {
#if MESH_LANES
    if (mesh_lanes_on()) {
        for (int32_t i = light_flat_lanes(mesh, light, double_sided); i < mesh->triangle_count; i++) {
            MeshTriangle* t = &mesh->triangles[i];
            t->lit_colour = lanes_bytes_scaled(t->base_colour, light_term(&t->world_normal, light, double_sided));
        }
        return;
    }
#endif
    for (int32_t i = 0; i < mesh->triangle_count; i++) {
        MeshTriangle* t = &mesh->triangles[i];
        float d = light_term(&t->world_normal, light, double_sided);
        uint32_t c = t->base_colour;
        t->lit_colour = byte_scaled(c >> 24, d) << 24 | byte_scaled((c >> 16) & 0xFF, d) << 16 |
                        byte_scaled((c >> 8) & 0xFF, d) << 8 | byte_scaled(c & 0xFF, d);
    }
}

static void light_gouraud(Mesh* mesh, const Vec3* light, int double_sided) {
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
        float d = light_term(&mesh->normals[i].world_normal, light, double_sided);
        mesh->vertices[i].colour = byte_scaled(255u, d) * 0x01010101u;
    }
}

static uint32_t unit_to_byte(float x) {
    float f = std::floor((x * 0.5f + 0.5f) * 255.0f);
    if (!(f > 0.0f)) return 0;
    return f >= 255.0f ? 255u : (uint32_t)f;
}

#if MESH_LANES
// unit_to_byte's and the alpha's clamp in lanes, from the scaled value: below 1 both give 0 (floor or
// truncation), from 1 up truncation is the floor, and NaN fails both tests and gives 0.
static inline __m128i lanes_clamped_byte(__m128 v) {
    const __m128i full = _mm_castps_si128(_mm_cmpge_ps(v, _mm_set1_ps(255.0f)));
    const __m128i some = _mm_castps_si128(_mm_cmpge_ps(v, _mm_set1_ps(1.0f)));
    const __m128i cut = _mm_and_si128(some, _mm_cvttps_epi32(v));
    return _mm_or_si128(_mm_and_si128(full, _mm_set1_epi32(255)), _mm_andnot_si128(full, cut));
}

// light_tangent's loop four vertices at a time, each lane the scalar steps in order; returns where
// the scalar loop takes over.
static int32_t light_tangent_lanes(Mesh* mesh, const Vec3* light) {
    const Lanes3 l = {_mm_set1_ps(light->x), _mm_set1_ps(light->y), _mm_set1_ps(light->z)};
    const __m128 half = _mm_set1_ps(0.5f), scale = _mm_set1_ps(255.0f);
    const VertexTangent* tg = mesh->tangents;
    const VertexNormal* nr = mesh->normals;
    int32_t i = 0;
    for (; i + 4 <= mesh->vertex_count; i += 4) {
        Lanes3 t = lanes3_load(&tg[i].world_tangent, &tg[i + 1].world_tangent, &tg[i + 2].world_tangent,
                               &tg[i + 3].world_tangent);
        Lanes3 n = lanes3_load(&nr[i].world_normal, &nr[i + 1].world_normal, &nr[i + 2].world_normal,
                               &nr[i + 3].world_normal);
        const __m128 hand = _mm_setr_ps(tg[i].handedness, tg[i + 1].handedness, tg[i + 2].handedness, tg[i + 3].handedness);
        Lanes3 b = lanes3_scale(lanes3_cross(n, t), hand);
        t = lanes3_normalized(t);
        n = lanes3_normalized(n);
        b = lanes3_normalized(b);
        const Lanes3 d = lanes3_normalized(Lanes3{lanes3_dot(l, t), lanes3_dot(l, b), lanes3_dot(l, n)});
        auto byte = [&](__m128 x) { return lanes_clamped_byte(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(x, half), half), scale)); };
        const __m128i alpha = lanes_clamped_byte(_mm_mul_ps(lanes3_dot(l, n), scale));
        const __m128i c = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(alpha, 24), _mm_slli_epi32(byte(d.x), 16)),
                                       _mm_or_si128(_mm_slli_epi32(byte(d.y), 8), byte(d.z)));
        alignas(16) uint32_t out[4];
        _mm_store_si128((__m128i*)out, c);
        for (int k = 0; k < 4; k++) mesh->vertices[i + k].colour = out[k];
    }
    return i;
}
#endif

static void light_tangent(Mesh* mesh, Vec3* light) {
    vec3_normalize(light, light);
    if (!mesh->tangents) return;
    int32_t first = 0;
#if MESH_LANES
    if (mesh_lanes_on()) first = light_tangent_lanes(mesh, light);
#endif
    for (int32_t i = first; i < mesh->vertex_count; i++) {
        Vec3 t = mesh->tangents[i].world_tangent;
        Vec3 n = mesh->normals[i].world_normal;
        Vec3 b;
        vec3_cross(&n, &t, &b);
        vec3_scale(&b, mesh->tangents[i].handedness, &b);
        vec3_normalize(&t, &t);
        vec3_normalize(&n, &n);
        vec3_normalize(&b, &b);
        Vec3 l = {vec3_dot(light, &t), vec3_dot(light, &b), vec3_dot(light, &n)};
        vec3_normalize(&l, &l);
        float a = vec3_dot(light, &n) * 255.0f;
        uint32_t alpha = a >= 255.0f ? 255u : a > 0.0f ? (uint32_t)a : 0u;
        mesh->vertices[i].colour =
            alpha << 24 | unit_to_byte(l.x) << 16 | unit_to_byte(l.y) << 8 | unit_to_byte(l.z);
    }
}

void mesh_light(Mesh* mesh, Vec3* light, int32_t model) {
    int double_sided = (mesh->flags & MESH_DOUBLE_SIDED) != 0;
    switch (model) {
    case MESH_LIGHT_FLAT: light_flat(mesh, light, double_sided); break;
    case MESH_LIGHT_GOURAUD: light_gouraud(mesh, light, double_sided); break;
    case MESH_LIGHT_TANGENT: light_tangent(mesh, light); break;
    default: break;
    }
}

static Vec3 vertex_position(const Mesh* mesh, int32_t index) {
    const MeshVertex* v = &mesh->vertices[index];
    return Vec3{v->px, v->py, v->pz};
}

static int vec3_finite(const Vec3* v) {
    return std::isfinite(v->x) && std::isfinite(v->y) && std::isfinite(v->z);
}

// One triangle's share of mesh_compute_normals: its weighted normal added to its corners', its
// unit normal and plane distance.
static void normals_add_triangle(Mesh* mesh, int32_t i) {
    MeshTriangle* t = &mesh->triangles[i];
    Vec3 pa = vertex_position(mesh, t->vertex_a);
    Vec3 pb = vertex_position(mesh, t->vertex_b);
    Vec3 pc = vertex_position(mesh, t->vertex_c);
    Vec3 e1, e2, n;
    vec3_sub(&pb, &pa, &e1);
    vec3_sub(&pc, &pa, &e2);
    vec3_cross(&e1, &e2, &n);
    // Unnormalised, so larger triangles weigh more in the smooth normals.
    vec3_add(&mesh->normals[t->vertex_a].normal, &n, &mesh->normals[t->vertex_a].normal);
    vec3_add(&mesh->normals[t->vertex_b].normal, &n, &mesh->normals[t->vertex_b].normal);
    vec3_add(&mesh->normals[t->vertex_c].normal, &n, &mesh->normals[t->vertex_c].normal);
    vec3_normalize(&n, &t->normal);
    t->plane_d = -vec3_dot(&t->normal, &pa);
}

// One triangle's texture directions s (along u) and t (along v); false when its texture
// coordinates are degenerate and it adds nothing.
static bool tangents_of_triangle(const Mesh* mesh, int32_t i, Vec3* s, Vec3* t) {
    const MeshTriangle* tri = &mesh->triangles[i];
    const MeshVertex* va = &mesh->vertices[tri->vertex_a];
    const MeshVertex* vb = &mesh->vertices[tri->vertex_b];
    const MeshVertex* vc = &mesh->vertices[tri->vertex_c];
    Vec3 pa = {va->px, va->py, va->pz}, pb = {vb->px, vb->py, vb->pz}, pc = {vc->px, vc->py, vc->pz};
    Vec3 e1, e2;
    vec3_sub(&pb, &pa, &e1);
    vec3_sub(&pc, &pa, &e2);
    float du1 = vb->u - va->u, dv1 = vb->v - va->v;
    float du2 = vc->u - va->u, dv2 = vc->v - va->v;
    float det = du1 * dv2 - du2 * dv1;
    // Degenerate texture coordinates give no direction; their contribution would be inf or NaN.
    if (det == 0.0f) return false;
    float r = 1.0f / det;
    Vec3 tmp;
    vec3_scale(&e1, dv2, s);
    vec3_scale(&e2, -dv1, &tmp);
    vec3_add(s, &tmp, s);
    vec3_scale(s, r, s);
    vec3_scale(&e2, du1, t);
    vec3_scale(&e1, -du2, &tmp);
    vec3_add(t, &tmp, t);
    vec3_scale(t, r, t);
    return vec3_finite(s) && vec3_finite(t);
}

// Adds a triangle's directions to its three corners, in corner order.
static void tangents_add(Mesh* mesh, int32_t i, const Vec3* s, const Vec3* t) {
    const MeshTriangle* tri = &mesh->triangles[i];
    const int32_t corner[3] = {tri->vertex_a, tri->vertex_b, tri->vertex_c};
    for (int32_t k : corner) {
        vec3_add(&mesh->tangents[k].tangent, s, &mesh->tangents[k].tangent);
        vec3_add(&mesh->tangents[k].world_tangent, t, &mesh->tangents[k].world_tangent);
    }
}

// The summed tangent made unit and square to the normal, and the handedness of the summed bitangent.
static void tangent_finish(Mesh* mesh, int32_t i) {
    VertexTangent* vt = &mesh->tangents[i];
    const Vec3* n = &mesh->normals[i].normal;
    Vec3 along, b;
    vec3_scale(n, vec3_dot(n, &vt->tangent), &along);
    vec3_sub(&vt->tangent, &along, &vt->tangent);
    vec3_normalize(&vt->tangent, &vt->tangent);
    vec3_cross(n, &vt->tangent, &b);
    vec3_normalize(&b, &b);
    vt->handedness = vec3_dot(&b, &vt->world_tangent) < 0.0f ? -1.0f : 1.0f;
}

#if MESH_LANES
static inline Lanes3 lanes3_positions(const MeshVertex* a, const MeshVertex* b, const MeshVertex* c, const MeshVertex* d) {
    return Lanes3{_mm_setr_ps(a->px, b->px, c->px, d->px), _mm_setr_ps(a->py, b->py, c->py, d->py),
                  _mm_setr_ps(a->pz, b->pz, c->pz, d->pz)};
}

// The corners' positions of triangles i..i + 3, one triangle per lane.
static inline void lanes3_corners(const Mesh* mesh, int32_t i, Lanes3* pa, Lanes3* pb, Lanes3* pc) {
    const MeshTriangle* t = &mesh->triangles[i];
    const MeshVertex* v = mesh->vertices;
    *pa = lanes3_positions(&v[t[0].vertex_a], &v[t[1].vertex_a], &v[t[2].vertex_a], &v[t[3].vertex_a]);
    *pb = lanes3_positions(&v[t[0].vertex_b], &v[t[1].vertex_b], &v[t[2].vertex_b], &v[t[3].vertex_b]);
    *pc = lanes3_positions(&v[t[0].vertex_c], &v[t[1].vertex_c], &v[t[2].vertex_c], &v[t[3].vertex_c]);
}

static inline __m128 lanes_of_u(const Mesh* mesh, const MeshTriangle* t, int32_t MeshTriangle::*corner) {
    const MeshVertex* v = mesh->vertices;
    return _mm_setr_ps(v[t[0].*corner].u, v[t[1].*corner].u, v[t[2].*corner].u, v[t[3].*corner].u);
}

static inline __m128 lanes_of_v(const Mesh* mesh, const MeshTriangle* t, int32_t MeshTriangle::*corner) {
    const MeshVertex* v = mesh->vertices;
    return _mm_setr_ps(v[t[0].*corner].v, v[t[1].*corner].v, v[t[2].*corner].v, v[t[3].*corner].v);
}

// mesh_compute_normals with four triangles' products, and four vertices' normalisation, at a time;
// the sums into the corners stay one at a time in triangle order.
static void compute_normals_lanes(Mesh* mesh) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    int32_t i = 0;
    for (; i + 4 <= mesh->triangle_count; i += 4) {
        Lanes3 pa, pb, pc;
        lanes3_corners(mesh, i, &pa, &pb, &pc);
        const Lanes3 n = lanes3_cross(lanes3_sub(pb, pa), lanes3_sub(pc, pa));
        const Lanes3 unit = lanes3_normalized(n);
        alignas(16) float d[4];
        _mm_store_ps(d, _mm_xor_ps(lanes3_dot(unit, pa), sign));
        MeshTriangle* t = &mesh->triangles[i];
        Vec3 face[4];
        lanes3_store(n, &face[0], &face[1], &face[2], &face[3]);
        for (int l = 0; l < 4; l++) {
            vec3_add(&mesh->normals[t[l].vertex_a].normal, &face[l], &mesh->normals[t[l].vertex_a].normal);
            vec3_add(&mesh->normals[t[l].vertex_b].normal, &face[l], &mesh->normals[t[l].vertex_b].normal);
            vec3_add(&mesh->normals[t[l].vertex_c].normal, &face[l], &mesh->normals[t[l].vertex_c].normal);
        }
        lanes3_store(unit, &t[0].normal, &t[1].normal, &t[2].normal, &t[3].normal);
        for (int l = 0; l < 4; l++) t[l].plane_d = d[l];
    }
    for (; i < mesh->triangle_count; i++) normals_add_triangle(mesh, i);
    VertexNormal* n = mesh->normals;
    for (i = 0; i + 4 <= mesh->vertex_count; i += 4) {
        const Lanes3 sum = lanes3_load(&n[i].normal, &n[i + 1].normal, &n[i + 2].normal, &n[i + 3].normal);
        lanes3_store(lanes3_normalized(sum), &n[i].normal, &n[i + 1].normal, &n[i + 2].normal, &n[i + 3].normal);
    }
    for (; i < mesh->vertex_count; i++) vec3_normalize(&n[i].normal, &n[i].normal);
}

// mesh_compute_tangents' directions four triangles at a time and its finishing four vertices at a
// time; the sums into the corners stay one at a time in triangle order.
static void compute_tangents_lanes(Mesh* mesh) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    int32_t i = 0;
    for (; i + 4 <= mesh->triangle_count; i += 4) {
        const MeshTriangle* tri = &mesh->triangles[i];
        Lanes3 pa, pb, pc;
        lanes3_corners(mesh, i, &pa, &pb, &pc);
        const Lanes3 e1 = lanes3_sub(pb, pa), e2 = lanes3_sub(pc, pa);
        const __m128 ua = lanes_of_u(mesh, tri, &MeshTriangle::vertex_a), va = lanes_of_v(mesh, tri, &MeshTriangle::vertex_a);
        const __m128 du1 = _mm_sub_ps(lanes_of_u(mesh, tri, &MeshTriangle::vertex_b), ua);
        const __m128 dv1 = _mm_sub_ps(lanes_of_v(mesh, tri, &MeshTriangle::vertex_b), va);
        const __m128 du2 = _mm_sub_ps(lanes_of_u(mesh, tri, &MeshTriangle::vertex_c), ua);
        const __m128 dv2 = _mm_sub_ps(lanes_of_v(mesh, tri, &MeshTriangle::vertex_c), va);
        const __m128 det = _mm_sub_ps(_mm_mul_ps(du1, dv2), _mm_mul_ps(du2, dv1));
        const __m128 r = _mm_div_ps(_mm_set1_ps(1.0f), det);
        const Lanes3 s = lanes3_scale(lanes3_add(lanes3_scale(e1, dv2), lanes3_scale(e2, _mm_xor_ps(dv1, sign))), r);
        const Lanes3 t = lanes3_scale(lanes3_add(lanes3_scale(e2, du1), lanes3_scale(e1, _mm_xor_ps(du2, sign))), r);
        const __m128 keep = _mm_and_ps(_mm_cmpneq_ps(det, _mm_setzero_ps()), _mm_and_ps(lanes3_finite(s), lanes3_finite(t)));
        const int kept = _mm_movemask_ps(keep);
        if (!kept) continue;
        Vec3 ss[4], ts[4];
        lanes3_store(s, &ss[0], &ss[1], &ss[2], &ss[3]);
        lanes3_store(t, &ts[0], &ts[1], &ts[2], &ts[3]);
        for (int l = 0; l < 4; l++)
            if (kept >> l & 1) tangents_add(mesh, i + l, &ss[l], &ts[l]);
    }
    for (; i < mesh->triangle_count; i++) {
        Vec3 s, t;
        if (tangents_of_triangle(mesh, i, &s, &t)) tangents_add(mesh, i, &s, &t);
    }
    const VertexNormal* nr = mesh->normals;
    VertexTangent* tg = mesh->tangents;
    for (i = 0; i + 4 <= mesh->vertex_count; i += 4) {
        const Lanes3 n = lanes3_load(&nr[i].normal, &nr[i + 1].normal, &nr[i + 2].normal, &nr[i + 3].normal);
        const Lanes3 sum = lanes3_load(&tg[i].tangent, &tg[i + 1].tangent, &tg[i + 2].tangent, &tg[i + 3].tangent);
        const Lanes3 bsum = lanes3_load(&tg[i].world_tangent, &tg[i + 1].world_tangent, &tg[i + 2].world_tangent,
                                        &tg[i + 3].world_tangent);
        const Lanes3 tangent = lanes3_normalized(lanes3_sub(sum, lanes3_scale(n, lanes3_dot(n, sum))));
        const Lanes3 b = lanes3_normalized(lanes3_cross(n, tangent));
        const __m128 left = _mm_cmplt_ps(lanes3_dot(b, bsum), _mm_setzero_ps());
        alignas(16) float hand[4];
        _mm_store_ps(hand, _mm_or_ps(_mm_set1_ps(1.0f), _mm_and_ps(left, sign)));
        lanes3_store(tangent, &tg[i].tangent, &tg[i + 1].tangent, &tg[i + 2].tangent, &tg[i + 3].tangent);
        for (int l = 0; l < 4; l++) tg[i + l].handedness = hand[l];
    }
    for (; i < mesh->vertex_count; i++) tangent_finish(mesh, i);
}
#endif

void mesh_compute_normals(Mesh* mesh) {
    for (int32_t i = 0; i < mesh->vertex_count; i++) mesh->normals[i].normal = Vec3{0, 0, 0};
#if MESH_LANES
    if (mesh_lanes_on()) {
        compute_normals_lanes(mesh);
        return;
    }
#endif
    for (int32_t i = 0; i < mesh->triangle_count; i++) normals_add_triangle(mesh, i);
    for (int32_t i = 0; i < mesh->vertex_count; i++)
        vec3_normalize(&mesh->normals[i].normal, &mesh->normals[i].normal);
}

void mesh_compute_tangents(Mesh* mesh) {
    if (!mesh->tangents) {
        mesh->tangents = (VertexTangent*)std::malloc((size_t)mesh->vertex_count * sizeof(VertexTangent));
        if (!mesh->tangents) return;
    }
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
        mesh->tangents[i].tangent = Vec3{0, 0, 0};
        mesh->tangents[i].world_tangent = Vec3{0, 0, 0};
        mesh->tangents[i].handedness = 1.0f;
    }
#if MESH_LANES
    if (mesh_lanes_on()) {
        compute_tangents_lanes(mesh);
        return;
    }
#endif
    for (int32_t i = 0; i < mesh->triangle_count; i++) {
        Vec3 s, t;
        if (tangents_of_triangle(mesh, i, &s, &t)) tangents_add(mesh, i, &s, &t);
    }
    for (int32_t i = 0; i < mesh->vertex_count; i++) tangent_finish(mesh, i);
}

// A view-space half-space g . (x, y, z) + h > 0 carried back through the view matrix to world space
// and scaled to a unit normal; false when it has no direction.
static bool cull_plane_world(const Matrix* view, const double g[3], double h, double out[4]) {
    const float* v = view->m;
    double a[3], d = h;
    for (int i = 0; i < 3; i++) a[i] = v[4 * i] * g[0] + v[4 * i + 1] * g[1] + v[4 * i + 2] * g[2];
    d += v[12] * g[0] + v[13] * g[1] + v[14] * g[2];
    const double length = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    if (!(length > 0.0) || !std::isfinite(length) || !std::isfinite(d)) return false;
    for (int i = 0; i < 3; i++) out[i] = a[i] / length;
    out[3] = d / length;
    return true;
}

void camera_cull_make(const Camera* camera, CameraCull* cull) {
    const float* s = camera->screen.m;
    const double near_z = clip_near_plane();
    cull->count = 0;
    const double beyond_near[3] = {0.0, 0.0, 1.0};
    if (cull_plane_world(&camera->view, beyond_near, -near_z, cull->plane[0])) cull->count = 1;
    // Rounding in the transform, projection and clip moves a point by a few units in the last place
    // of the view's coordinates; the slack covers a thousand times that.
    const float* v = camera->view.m;
    cull->slack = 1e-3 + 1e-4 * (std::fabs(v[12]) + std::fabs(v[13]) + std::fabs(v[14]));
    // The screen edges bound x / w and y / w only where w is positive: every point inside the near
    // plane must have w > 0, which holds when w falls with view z alone and is positive on the plane.
    // A point 3 pixels past an edge leaves set-up's box off the screen whatever the rounding.
    if (cull->count == 0 || !(s[3] == 0.0f && s[7] == 0.0f && s[11] < 0.0f && near_z * s[11] + s[15] > 0.0))
        return;
    struct Edge {
        int column;
        double at, sign;  // refused where sign * (column - at * w) > 0
    };
    const Edge edges[4] = {{0, -3.0, -1.0}, {0, (double)SCREEN_WIDTH + 3.0, 1.0}, {1, -3.0, -1.0}, {1, (double)SCREEN_HEIGHT + 3.0, 1.0}};
    for (const Edge& e : edges) {
        const int c = e.column;
        const double g[3] = {e.sign * (s[c] - e.at * s[3]), e.sign * (s[4 + c] - e.at * s[7]),
                             e.sign * (s[8 + c] - e.at * s[11])};
        if (cull_plane_world(&camera->view, g, e.sign * (s[12 + c] - e.at * s[15]), cull->plane[cull->count]))
            cull->count++;
    }
}

int camera_cull_ball(const CameraCull* cull, const Vec3* centre, float radius) {
    const double x = centre->x, y = centre->y, z = centre->z;
    const double reach = (double)radius * (1.0 + 1e-4) + 1e-4 * (std::fabs(x) + std::fabs(y) + std::fabs(z)) + cull->slack;
    // Far-off or non-finite centres are left to the drawing; NaN fails every test below.
    if (!(reach < 1e6)) return 0;
    for (int k = 0; k < cull->count; k++) {
        const double* p = cull->plane[k];
        if (p[0] * x + p[1] * y + p[2] * z + p[3] > reach) return 1;
    }
    return 0;
}
