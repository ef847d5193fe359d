// Deformers, reflected-light coordinates, camera path and sparks of the bump-mapped sphere.
#include "scenes/ribbon_ops.h"

#include <cmath>

#include "procedural/noise.h"
#include "render3d/mesh_lanes.h"
#include "scenes/scene_math.h"

void deform_twist(Mesh* mesh, const Deformer* record) {
    const float length = record->params[0], angle = record->params[1];
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
        MeshVertex* v = &mesh->vertices[i];
        float d[3] = {v->px - record->centre.x, v->py - record->centre.y, v->pz - record->centre.z};
        // The axis of the twist stays fixed; the other two coordinates turn with distance along it.
        int axis = record->mode == 0 ? 0 : record->mode == 1 ? 1 : 2;
        int p = axis == 0 ? 1 : 0, q = axis == 2 ? 1 : 2;
        float a = d[axis] / length;
        float e = std::cos(angle * a), f = std::sin(angle * a);
        float x = d[p], y = d[q];
        d[p] = e * x - f * y;
        d[q] = f * x + e * y;
        v->px = d[0] + record->centre.x;
        v->py = d[1] + record->centre.y;
        v->pz = d[2] + record->centre.z;
    }
}

void deform_ripple(Mesh* mesh, const Deformer* record) {
    const float amplitude = record->params[0], wavelength = record->params[1];
    const float phase = record->params[2], falloff = record->params[3];
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
        MeshVertex* v = &mesh->vertices[i];
        Vec3 d = {v->px - record->centre.x, v->py - record->centre.y, v->pz - record->centre.z};
        float r = vec3_length(&d);
        float s = amplitude * std::sin(r * kPi / wavelength + phase) *
                  std::sin(r * (kPi / 2.0f) / wavelength + phase / 3.0f);
        if (falloff != 0.0f) s = falloff >= r ? s * (1.0f - r / falloff) : 0.0f;
        const Vec3& n = mesh->normals[i].normal;
        v->px += n.x * s;
        v->py += n.y * s;
        v->pz += n.z * s;
    }
}

void deform_swirl(Mesh* mesh, const Deformer* record) {
    const float radius = record->params[0], angle = record->params[1];
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
        MeshVertex* v = &mesh->vertices[i];
        Vec3 d = {v->px - record->centre.x, v->py - record->centre.y, v->pz - record->centre.z};
        float r = vec3_length(&d);
        float k = radius > r ? r / radius : 1.0f;
        float w = (1.0f - k) * angle;
        Matrix rot;
        mat_rotate_euler(&rot, std::cos(d.x / radius * kPi / 2.0f) * w, std::cos(d.y / radius * kPi / 2.0f) * w,
                         std::cos(d.z / radius * kPi / 2.0f) * w);
        mat_transform_point(&rot, &d, &d);
        v->px = d.x + record->centre.x;
        v->py = d.y + record->centre.y;
        v->pz = d.z + record->centre.z;
    }
}

#if MESH_LANES
// light_reflect_uv's loop four vertices at a time, one per lane, each lane the scalar steps in
// order; returns where the scalar loop takes over.
static int32_t reflect_uv_lanes(Mesh* mesh, const Vec3* l) {
    const Lanes3 towards = {_mm_set1_ps(l->x), _mm_set1_ps(l->y), _mm_set1_ps(l->z)};
    const __m128 one = _mm_set1_ps(1.0f), half = _mm_set1_ps(0.5f), two = _mm_set1_ps(2.0f);
    const VertexNormal* n = mesh->normals;
    int32_t i = 0;
    for (; i + 4 <= mesh->vertex_count; i += 4) {
        const Lanes3 normal = lanes3_load(&n[i].world_normal, &n[i + 1].world_normal, &n[i + 2].world_normal,
                                          &n[i + 3].world_normal);
        const __m128 k = _mm_mul_ps(two, lanes3_dot(normal, towards));
        const Lanes3 r = lanes3_normalized(lanes3_sub(normal, lanes3_scale(towards, k)));
        alignas(16) float u[4], v[4];
        _mm_store_ps(u, _mm_mul_ps(_mm_add_ps(r.x, one), half));
        _mm_store_ps(v, _mm_mul_ps(_mm_sub_ps(one, r.y), half));
        for (int j = 0; j < 4; j++) {
            mesh->vertices[i + j].env_u = u[j];
            mesh->vertices[i + j].env_v = v[j];
        }
    }
    return i;
}
#endif

void light_reflect_uv(Mesh* mesh, const Vec3* light) {
    Vec3 l;
    vec3_normalize(light, &l);
    vec3_scale(&l, -1.0f, &l);
    int32_t first = 0;
#if MESH_LANES
    if (mesh_lanes_on()) first = reflect_uv_lanes(mesh, &l);
#endif
    for (int32_t i = first; i < mesh->vertex_count; i++) {
        Vec3 r;
        vec3_reflect(&mesh->normals[i].world_normal, &l, &r);
        vec3_normalize(&r, &r);
        mesh->vertices[i].env_u = (r.x + 1.0f) * 0.5f;
        mesh->vertices[i].env_v = (1.0f - r.y) * 0.5f;
    }
}

void ribbon_camera(Camera* camera, float t, float B, int b) {
    const float p1 = pow4(frac(B)), p2 = pow4(frac(B / 2.0f));
    const float e0 = (b >= 352 && b < 368) ? 2.5f : 3.5f;
    camera->eye = {2.0f * noise2(t, p1), 0.0f, std::fabs(std::cos(t / 8.0f * kPi)) + e0};
    camera->target = {0.0f, noise2(p2, t), 0.0f};
    if (b <= 321) camera->eye.z += (2.0f - (B - 320.0f)) * 8.0f;  // arrives from afar
    if (b == 383) camera->eye.z += std::fabs(noise2(p1, t) * 32.0f);
    if (b >= 384) {
        float u = (B - 384.0f) * 4.0f;
        camera->eye.y -= u;
        camera->target.y -= u;
    }
    camera_set_screen(camera, 1.0f, 128.0f);
}

float sparks_offset(float B) {
    if (B < 332.0f) return (B - 328.0f) / 4.0f * 0.1f - 0.05f;
    if (B > 348.0f && B < 352.0f) return 0.05f - (B - 348.0f) / 4.0f * 0.1f;
    if (B >= 368.0f && B < 372.0f) return (B - 368.0f) / 4.0f * 0.1f - 0.05f;
    if (B > 381.0f) return 0.05f - (B - 381.0f) / 4.0f * 0.1f;
    return 0.05f;
}

Mesh* sparks_create(void) {
    Mesh* m = mesh_create(4 * SPARK_QUADS, 2 * SPARK_QUADS);
    if (!m) return nullptr;
    for (int32_t i = 0; i < SPARK_QUADS; i++) {
        MeshTriangle* t = &m->triangles[2 * i];
        t[0].vertex_a = 4 * i, t[0].vertex_b = 4 * i + 1, t[0].vertex_c = 4 * i + 2;
        t[1].vertex_a = 4 * i, t[1].vertex_b = 4 * i + 2, t[1].vertex_c = 4 * i + 3;
        for (int j = 0; j < 2; j++) {
            t[j].base_colour = 0xFFFFFFFFu;
            t[j].lit_colour = 0xFFFFFFFFu;
            t[j].visible = 1;
        }
    }
    return m;
}

static void spark_corner(MeshVertex* v, const Vec3* c, float rx, float uy, float s, float u, float tv) {
    // rx, uy pick the signs of the right and up axes for this corner.
    v->px = c->x + (spark_right.x * rx + spark_up.x * uy) * s;
    v->py = c->y + (spark_right.y * rx + spark_up.y * uy) * s;
    v->pz = c->z + (spark_right.z * rx + spark_up.z * uy) * s;
    v->u = u;
    v->v = tv;
    v->colour = 0xFFFFFFFFu;
}

void sparks_emit(const Mesh* sphere, Mesh* spark_mesh, float B, Vec3* light) {
    vec3_normalize(light, light);
    const float o = sparks_offset(B);
    int32_t quads = 0;
    for (int32_t i = 0; i < sphere->vertex_count && quads < SPARK_QUADS; i += 4) {
        const Vec3* n = &sphere->normals[i].world_normal;
        float d = vec3_dot(n, light);
        if (!(d > 0.75f)) continue;
        // Lift along the object-space normal: the centre is an object-space point.
        const MeshVertex* p = &sphere->vertices[i];
        const Vec3* on = &sphere->normals[i].normal;
        Vec3 c = {p->px + on->x * o, p->py + on->y * o, p->pz + on->z * o};
        float w = (d - 0.75f) / 0.25f;
        float s = w * 0.25f;
        MeshVertex* v = &spark_mesh->vertices[4 * quads];
        spark_corner(&v[0], &c, 1.0f, 1.0f, s, 1.0f, 0.0f);
        spark_corner(&v[1], &c, -1.0f, 1.0f, s, 0.0f, 0.0f);
        spark_corner(&v[2], &c, -1.0f, -1.0f, s, 0.0f, 1.0f);
        spark_corner(&v[3], &c, 1.0f, -1.0f, s, 1.0f, 1.0f);
        uint32_t grey = (uint32_t)(int32_t)(w * 127.0f) * 0x01010101u;
        spark_mesh->triangles[2 * quads].lit_colour = grey;
        spark_mesh->triangles[2 * quads + 1].lit_colour = grey;
        quads++;
    }
    spark_mesh->flags = MESH_DOUBLE_SIDED;
    spark_mesh->vertex_count = 4 * quads;
    spark_mesh->triangle_count = 2 * quads;
}
