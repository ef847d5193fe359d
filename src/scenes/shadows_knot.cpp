// The knot tube, its cameras, the light-projected shadow coordinates and the highlight.
#include "scenes/shadows_knot.h"

#include <cmath>

#include "render3d/clip.h"
#include "render3d/tube.h"
#include "scenes/scene_math.h"

Vec3 knot_point(float a, float p, float q, float t) {
    float r = (std::sin(q * t) + 2.0f) * 0.5f * a;
    return Vec3{std::cos(p * t) * r, r * std::cos(q * t), r * std::sin(p * t)};
}

Mesh* knot_tube_create(int rings, int sides, float p, float q, float scale, float radius,
                       float u_scale, float v_scale) {
    // Fewer than three rings or sides cannot close a tube; the product must fit the mesh counts.
    if (rings < 3 || sides < 3 || (int64_t)rings * sides > (1 << 24)) return nullptr;
    const int n = sides, c = rings;
    Mesh* mesh = mesh_create(c * n, 2 * c * n);
    if (!mesh) return nullptr;
    for (int k = 0; k < c; k++)
        for (int l = 0; l < n; l++) {
            MeshVertex* v = &mesh->vertices[k * n + l];
            v->u = (float)l / (float)n * u_scale;
            v->v = (float)k / (float)c * v_scale;
        }
    MeshTriangle* t = mesh->triangles;
    for (int k = 0; k < c; k++) {
        const int ring = n * k, next = n * ((k + 1) % c);  // the last ring joins the first
        for (int l = 0; l < n; l++) {
            const int l1 = (l + 1) % n;
            t->vertex_a = l + ring;
            t->vertex_b = l1 + ring;
            t->vertex_c = l1 + next;
            t++;
            t->vertex_a = l + ring;
            t->vertex_b = l1 + next;
            t->vertex_c = l + next;
            t++;
        }
    }
    for (int i = 0; i < mesh->triangle_count; i++) {
        mesh->triangles[i].base_colour = 0xFFFFFFFFu;
        mesh->triangles[i].visible = 1;
    }
    knot_tube_shape(mesh, rings, sides, p, q, scale, radius, 0.0f, 0.0f, 1.0f);
    return mesh;
}

void knot_tube_shape(Mesh* mesh, int rings, int sides, float p, float q, float scale, float radius,
                     float phase, float amplitude, float frequency) {
    if (!mesh || rings <= 0 || sides <= 0 || (int64_t)rings * sides != mesh->vertex_count) return;
    const float m = 2.0f * kPi / (float)rings;
    Vec3 prev = knot_point(scale, p, q, (float)(rings - 1) * m);
    Vec3 cur = knot_point(scale, p, q, 0.0f);
    TubeFrame frame;
    tube_frame_start(&frame, &prev, &cur);
    for (int k = 0; k < rings; k++) {
        const float o = (float)k * m;
        cur = knot_point(scale, p, q, o);
        tube_frame_turn(&frame, &prev, &cur);
        const float rho = (std::sin((phase + o) * frequency) * 0.5f + 0.5f) * amplitude + radius;
        for (int j = 0; j < sides; j++) {
            const float phi = (float)j * 2.0f * kPi / (float)sides;
            const float cs = std::cos(phi), sn = std::sin(phi);
            // Centred on the previous curve point.
            const Vec3 pos = tube_frame_point(&frame, (cs - sn) * rho, (sn + cs) * rho, &prev);
            MeshVertex* v = &mesh->vertices[k * sides + j];
            v->px = pos.x;
            v->py = pos.y;
            v->pz = pos.z;
        }
        prev = cur;
    }
    mesh_compute_normals(mesh);
}

void orbit_eye(Camera* camera, float distance, float a) {
    const float theta = std::sin(a * 0.5f + 0.78f) * kPi;
    const float phi = std::sin(a * 0.39f * 0.5f) * kPi * 0.2f;
    camera->eye = Vec3{std::cos(phi) * std::sin(theta) * distance,
                       distance * std::sin(phi) * std::sin(theta), distance * std::cos(theta)};
    camera->target = Vec3{0.0f, 0.0f, 0.0f};
}

void shadow_uv_project(Mesh* mesh, const Camera* light) {
    if (!mesh || !light) return;
    Matrix bias, model_view, projected, full;
    mat_scale(&bias, 0.5f, 0.5f, 0.5f);
    bias.m[12] = 0.5f;
    bias.m[13] = 0.5f;
    bias.m[14] = 0.5f;
    mat_multiply(&mesh->object_matrix, &light->view, &model_view);
    mat_multiply(&light->projection, &bias, &projected);
    mat_multiply(&model_view, &projected, &full);
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
        MeshVertex* v = &mesh->vertices[i];
        Vec3 p = {v->px, v->py, v->pz}, out;
        mat_transform_point(&full, &p, &out);
        const float f = out.z == 0.0f ? 1.0f : 1.0f / out.z;
        v->env_u = out.x * f;
        v->env_v = 1.0f - out.y * f;
    }
}

// trunc(c^exponent * 255) in every byte, added with saturation; nothing for c <= 0.
static uint32_t specular_add(uint32_t colour, float c, int exponent) {
    if (!(c > 0.0f)) return colour;
    float level = std::pow(c, (float)exponent) * 255.0f;
    uint32_t byte = level >= 255.0f ? 255u : (uint32_t)level;
    return colour_add_saturate(colour, byte * 0x01010101u);
}

void mesh_add_specular(Mesh* mesh, const Vec3* light, int exponent, int model) {
    if (!mesh || !light || (model != 0 && model != 1)) return;
    // Half vector of the light and the view axis, scaled to unit length so that a normal along it
    // gets the full highlight.
    Vec3 h;
    vec3_normalize(light, &h);
    h.z += 1.0f;
    const float len = vec3_length(&h);
    if (!(len > 0.0f)) return;  // light straight along -z: no half vector
    const float k = 1.0f / len;
    const int double_sided = (mesh->flags & MESH_DOUBLE_SIDED) != 0;
    if (model == 0) {
        for (int32_t i = 0; i < mesh->triangle_count; i++) {
            MeshTriangle* t = &mesh->triangles[i];
            float d = vec3_dot(&t->world_normal, &h);
            if (double_sided) d = std::fabs(d);
            t->lit_colour = specular_add(t->lit_colour, k * d, exponent);
        }
    } else {
        for (int32_t i = 0; i < mesh->vertex_count; i++) {
            float d = vec3_dot(&mesh->normals[i].world_normal, &h);
            if (double_sided) d = std::fabs(d);
            mesh->vertices[i].colour = specular_add(mesh->vertices[i].colour, k * d, exponent);
        }
    }
}

KnotShape shadows_knot_shape(float beat) {
    const int b = (int)beat;
    const float p2 = pow4(frac(beat / 2.0f)), p4 = pow4(frac(beat / 4.0f));
    KnotShape shape = {10.0f, 0.5f, 0.0f, 0.0f};
    if (b < 112) return shape;
    if (b < 116) {
        // The bulges grow in from nothing over four beats.
        shape.phase = 14.5f;
        shape.amplitude = (beat - 112.0f) / 4.0f * (p2 + 1.0f);
        return shape;
    }
    shape.phase = beat / 8.0f + 0.1f * p4;
    shape.amplitude = p2 + 1.0f;
    if (b >= 128) shape.scale = 10.0f + 2.0f * std::sin(pow4(frac(beat + 0.5f)) * kPi);
    if (b >= 144) shape.radius = 0.5f - std::sin(pow4(frac(2.0f * (beat + 0.5f))) * kPi);
    return shape;
}

void shadows_sphere_angles(float beat, float s, float* ax, float* az) {
    const int b = (int)beat;
    const float half = kPi / 2.0f;
    *ax = 0.0f;
    *az = 0.0f;
    if (b < 124) *ax = 0.3f * std::sin(1.1f * s);
    else if (b < 128) *ax = (beat - 124.0f) / 4.0f * half + 0.3f * std::sin(1.1f * s);
    else if (b < 144) *ax = half;
    else if (b < 148) *ax = half - (beat - 144.0f) / 4.0f * half;
    else if (b < 152) *az = (beat - 148.0f) / 4.0f * half;
    else *az = half;
}
