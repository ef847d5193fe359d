// Camera matrices, the per-frame mesh transform, the three lighting models, and the normals and
// tangents computed once per mesh.
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
// lanes_normalize_store(lanes_rotate(n, source)) for the records first..first + count - 1, four at
// a time with one record per lane: each lane makes the scalar sums in the scalar order, and the
// square root and division are the correctly rounded ones of the scalar path.
template <class Record>
static void rotate_normalize_records(const Matrix* normal_matrix, Record* records, int32_t count,
                                     Vec3 Record::*source, Vec3 Record::*target) {
    const float* e = normal_matrix->m;
    int32_t i = 0;
    if (count >= 4) {
        const __m128 m0 = _mm_set1_ps(e[0]), m1 = _mm_set1_ps(e[1]), m2 = _mm_set1_ps(e[2]);
        const __m128 m4 = _mm_set1_ps(e[4]), m5 = _mm_set1_ps(e[5]), m6 = _mm_set1_ps(e[6]);
        const __m128 m8 = _mm_set1_ps(e[8]), m9 = _mm_set1_ps(e[9]), m10 = _mm_set1_ps(e[10]);
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
        for (; i + 4 <= count; i += 4) {
            const Vec3* v0 = &(records[i].*source);
            const Vec3* v1 = &(records[i + 1].*source);
            const Vec3* v2 = &(records[i + 2].*source);
            const Vec3* v3 = &(records[i + 3].*source);
            const __m128 x = _mm_setr_ps(v0->x, v1->x, v2->x, v3->x);
            const __m128 y = _mm_setr_ps(v0->y, v1->y, v2->y, v3->y);
            const __m128 z = _mm_setr_ps(v0->z, v1->z, v2->z, v3->z);
            const __m128 rx = _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m0), _mm_mul_ps(y, m4)), _mm_mul_ps(z, m8));
            const __m128 ry = _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m1), _mm_mul_ps(y, m5)), _mm_mul_ps(z, m9));
            const __m128 rz = _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m2), _mm_mul_ps(y, m6)), _mm_mul_ps(z, m10));
            const __m128 s = _mm_add_ps(_mm_add_ps(_mm_mul_ps(rx, rx), _mm_mul_ps(ry, ry)), _mm_mul_ps(rz, rz));
            // The zero vector stays zero.
            const __m128 k = _mm_andnot_ps(_mm_cmpeq_ps(s, zero), _mm_div_ps(one, _mm_sqrt_ps(s)));
            alignas(16) float ox[4], oy[4], oz[4];
            _mm_store_ps(ox, _mm_mul_ps(rx, k));
            _mm_store_ps(oy, _mm_mul_ps(ry, k));
            _mm_store_ps(oz, _mm_mul_ps(rz, k));
            for (int l = 0; l < 4; l++) records[i + l].*target = Vec3{ox[l], oy[l], oz[l]};
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
// byte_scaled on the four bytes of c at once, byte k in lane k.
static uint32_t lanes_bytes_scaled(uint32_t c, float d) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128((int)c), zero), zero);
    const __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(bytes), _mm_set1_ps(d));
    const __m128i full = _mm_castps_si128(_mm_cmpge_ps(f, _mm_set1_ps(255.0f)));
    const __m128i scaled = _mm_or_si128(_mm_and_si128(full, _mm_set1_epi32(255)),
                                        _mm_andnot_si128(full, _mm_cvttps_epi32(f)));
    return (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(scaled, zero), zero));
}
#endif

static void light_flat(Mesh* mesh, const Vec3* light, int double_sided) {
#if MESH_LANES
    if (mesh_lanes_on()) {
        for (int32_t i = 0; i < mesh->triangle_count; i++) {
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

static void light_tangent(Mesh* mesh, Vec3* light) {
    vec3_normalize(light, light);
    if (!mesh->tangents) return;
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
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

void mesh_compute_normals(Mesh* mesh) {
    for (int32_t i = 0; i < mesh->vertex_count; i++) mesh->normals[i].normal = Vec3{0, 0, 0};
    for (int32_t i = 0; i < mesh->triangle_count; i++) {
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
    for (int32_t i = 0; i < mesh->vertex_count; i++)
        vec3_normalize(&mesh->normals[i].normal, &mesh->normals[i].normal);
}

static int vec3_finite(const Vec3* v) {
    return std::isfinite(v->x) && std::isfinite(v->y) && std::isfinite(v->z);
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
    for (int32_t i = 0; i < mesh->triangle_count; i++) {
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
        if (det == 0.0f) continue;
        float r = 1.0f / det;
        Vec3 s, t, tmp;
        vec3_scale(&e1, dv2, &s);
        vec3_scale(&e2, -dv1, &tmp);
        vec3_add(&s, &tmp, &s);
        vec3_scale(&s, r, &s);
        vec3_scale(&e2, du1, &t);
        vec3_scale(&e1, -du2, &tmp);
        vec3_add(&t, &tmp, &t);
        vec3_scale(&t, r, &t);
        if (!vec3_finite(&s) || !vec3_finite(&t)) continue;
        const int32_t corner[3] = {tri->vertex_a, tri->vertex_b, tri->vertex_c};
        for (int32_t k : corner) {
            vec3_add(&mesh->tangents[k].tangent, &s, &mesh->tangents[k].tangent);
            vec3_add(&mesh->tangents[k].world_tangent, &t, &mesh->tangents[k].world_tangent);
        }
    }
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
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
}
