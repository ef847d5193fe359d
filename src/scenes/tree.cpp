// The growing tree and greetings scene: a tree of thin three-sided tubes grows from a wooden plane
// under a scrolling smoke sky; a swelling pulse runs up every four beats carrying greeting letters.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx/blit.h"
#include "gfx/image.h"
#include "gfx/text.h"
#include "lwo/lwo_mesh.h"
#include "render3d/tube.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"
#include "scenes/tree_ops.h"

namespace {

const float TREE_PI2 = 6.283185f;
const RenderMode TREE_SOLID_MODE = RENDER_DEPTH | RENDER_TEXTURE | RENDER_GOURAUD;  // 22
const RenderMode TREE_SKY_MODE = RENDER_ALPHA | RENDER_DEPTH | RENDER_TEXTURE;      // 8212

const char* const greetings[TREE_GREETING_COUNT] = {
    "we give knark to", "orvane", "dulcet mire", "pell harrow",
    "ostrel", "wispkeys", "tamblers", "grindlow",
};

Mesh* sky_plane = nullptr;
Mesh* sky_dome = nullptr;
Image* letter_images[26] = {};
Envelope* growth_curve = nullptr;
SplineTube* branches[TREE_MAX_BRANCHES] = {};
int branch_count = 0;
Vec3 tips[TREE_MAX_BRANCHES];
int tip_count = 0;
uint32_t rand_state = 0;

float tree_random_signed(void) { return (float)(tree_rand() % 32767) / 32767.0f * 2.0f - 1.0f; }

Envelope* curve_new(const float* values, float start) {
    Envelope* e = envelope_new();
    if (!e) return nullptr;
    for (int i = 0; i < 4; i++) {
        EnvelopeKey* k = key_new();
        if (!k) {
            envelope_free(e);
            return nullptr;
        }
        k->time = start + (float)i / 3.0f;
        k->value = values[i];
        k->shape = ENVELOPE_SHAPE_TCB;
        envelope_insert_key(e, k);
    }
    envelope_auto_tangents(e);
    return e;
}

// Three centre-line curves rising from o, wandering sideways along d. Null entries on failure.
void branch_path(Envelope** out, Vec3 o, Vec3 d, float step, float start) {
    Vec3 key[4];
    key[0] = o;
    float rx = tree_random_signed();
    float rz = tree_random_signed();
    key[1] = Vec3{o.x + rx * d.x * 1.5f * step, o.y + step / 2.0f, o.z + rz * d.z * 1.5f * step};
    for (int i = 2; i < 4; i++) {
        rx = tree_random_signed();
        rz = tree_random_signed();
        key[i] = Vec3{key[i - 1].x + rx * d.x * step / 1.5f, key[i - 1].y + step / 1.5f,
                      key[i - 1].z + rz * d.z * step / 1.5f};
    }
    float xs[4], ys[4], zs[4];
    for (int i = 0; i < 4; i++) {
        xs[i] = key[i].x;
        ys[i] = key[i].y;
        zs[i] = key[i].z;
    }
    out[0] = curve_new(xs, start);
    out[1] = curve_new(ys, start);
    out[2] = curve_new(zs, start);
}

SplineTube* tree_grow(int depth, Vec3 o, Vec3 d, float step, float radius, float start,
                      SplineTube* parent) {
    if (depth > 2 || branch_count >= TREE_MAX_BRANCHES) return nullptr;
    Envelope* c[3];
    branch_path(c, o, d, step, start);
    SplineTube* tube = nullptr;
    if (c[0] && c[1] && c[2]) {
        tube = spline_tube_create(start, start + 1.0f, 18, 3, c[0], c[1], c[2]);
    } else {
        envelope_free(c[0]);
        envelope_free(c[1]);
        envelope_free(c[2]);
    }
    // The generator still advances for the children so a missing branch only loses its subtree.
    if (tube) {
        spline_tube_profile(tube, 1, 1, 1, 1, 1, 1, radius);
        if (branch_count == 0) tube->curve_y->keys->value -= 1.0f;  // the trunk starts underground
        tube->start_time = start;
        tube->u_scale = 1.0f;
        tube->v_scale = 3.0f;
        tube->parent = parent;
        branches[branch_count++] = tube;
    }
    for (int i = 0; i < TREE_CHILDREN; i++) {
        float f = (float)(tree_rand() % 32767) / 32767.0f + start;
        float rx = tree_random_signed();
        float ry = tree_random_signed();
        float rz = tree_random_signed();
        if (!tube) continue;
        Vec3 co = spline_tube_point(tube, f);
        Vec3 cd = Vec3{rx * d.x, std::fabs(ry * d.y), rz * d.z};
        vec3_normalize(&cd, &cd);
        float cr = (start + 1.0f - f) * radius * 0.95f;
        tube->children[i] = tree_grow(depth + 1, co, cd, step, cr, f, tube);
    }
    return tube;
}

void tree_draw(const Camera* camera, SplineTube* branch, float x) {
    if (!branch) return;
    spline_tube_build(branch, growth_curve, x);
    if (branch->triangle_count == 0) return;
    float a = growth_curve->keys->next->time;
    if (tip_count < TREE_MAX_BRANCHES) {
        Vec3 p = spline_tube_point(branch, a);
        p.x -= 4.0f;
        if (a <= branch->curve_x->keys->time) p.y = -100.0f;  // the pulse has not reached it yet
        tips[tip_count++] = p;
    }
    Mesh* m = branch->mesh;
    mat_translate(&m->object_matrix, -4.0f, 0.0f, 0.0f);
    m->flags |= MESH_PROJECTIVE;
    m->texture = texture_get(TEXTURE_WOOD);
    Matrix screen, normal;
    camera_object_matrices(camera, &m->object_matrix, &screen, &normal);
    mesh_transform(m, &screen, &normal, MESH_PART_NORMALS);
    Vec3 light = {0.0f, 0.0f, 1.0f};
    mesh_light(m, &light, MESH_LIGHT_GOURAUD);
    mesh_draw(m, camera, TREE_SOLID_MODE, MESH_CLIP_PROJECTED);
    m->flags &= ~MESH_PROJECTIVE;
    for (int i = 0; i < TREE_CHILDREN; i++) tree_draw(camera, branch->children[i], x);
}

// Screen position of a tip; 0 when it cannot be placed on a sane pixel coordinate.
int tip_screen(const Camera* camera, const Vec3* tip, int* out_x, int* out_y) {
    Vec3 p, q;
    mat_transform_point(&camera->view, tip, &p);
    float w = mat_transform_point_w(&camera->screen, &p, &q);
    if (w == 0.0f) w = 1.0f;
    float sx = q.x / w, sy = q.y / w;
    // Tips near the eye plane project far away; casting such values to int is undefined.
    if (!(std::fabs(sx) < 100000.0f) || !(std::fabs(sy) < 100000.0f)) return 0;
    *out_x = (int)sx;
    *out_y = (int)sy;
    return 1;
}

void greeting_draw(const Camera* camera, float x) {
    const char* text = tree_greeting((int)std::floor(x));
    int len = (int)std::strlen(text);
    int n = len < tip_count ? len : tip_count;
    int sx[TREE_MAX_BRANCHES], sy[TREE_MAX_BRANCHES], shown[TREE_MAX_BRANCHES];
    for (int i = 0; i < n; i++) {
        shown[i] = tips[i].y > -99.0f && tip_screen(camera, &tips[i], &sx[i], &sy[i]);
        char ch = text[i];
        if (ch >= 'a' && ch <= 'z' && shown[i])
            image_blit(letter_images[ch - 'a'], sx[i] - 8, sy[i], 127, 0);
    }
    if (n == 0 || !shown[0]) return;
    int letter[TREE_MAX_BRANCHES], lx[TREE_MAX_BRANCHES];
    int count = greeting_line(text, n, shown, sx[0] - (n / 2) * 16, letter, lx);
    for (int i = 0; i < count; i++) image_draw(letter_images[letter[i]], lx[i], sy[0] + 64, 1);
}

void tree_release(void) {
    mesh_free(sky_plane);
    mesh_free(sky_dome);
    sky_plane = sky_dome = nullptr;
    envelope_free(growth_curve);
    growth_curve = nullptr;
    for (int i = 0; i < branch_count; i++) {
        spline_tube_free(branches[i]);
        branches[i] = nullptr;
    }
    branch_count = 0;
    tip_count = 0;
    for (Image*& img : letter_images) {
        image_free(img);
        img = nullptr;
    }
}

}  // namespace

void tree_srand(uint32_t seed) { rand_state = seed; }

int tree_rand(void) {
    rand_state = rand_state * 214013u + 2531011u;
    return (int)((rand_state >> 16) & 0x7FFF);
}

SplineTube* spline_tube_create(float t0, float t1, int rings_per_unit, int sides, Envelope* cx,
                               Envelope* cy, Envelope* cz) {
    SplineTube* tube = nullptr;
    if (sides >= 1 && sides <= 64 && rings_per_unit >= 1 && rings_per_unit <= 4096 && t1 > t0 &&
        t1 - t0 < 1000.0f)
        tube = (SplineTube*)std::calloc(1, sizeof(SplineTube) + sizeof(TubeProfilePoint) * sides);
    if (!tube) {
        envelope_free(cx);
        envelope_free(cy);
        envelope_free(cz);
        return nullptr;
    }
    tube->curve_x = cx;
    tube->curve_y = cy;
    tube->curve_z = cz;
    int rings = (int)std::ceil((t1 - t0) * (float)rings_per_unit);
    if (rings < 2) rings = 2;
    tube->max_vertices = rings * sides + 2 * sides;
    tube->max_triangles = (6 * rings * sides + 3 * sides) / 3;
    tube->mesh = mesh_create(tube->max_vertices, tube->max_triangles);
    if (!tube->mesh) {
        spline_tube_free(tube);
        return nullptr;
    }
    tube->mesh->vertex_count = 0;
    tube->mesh->triangle_count = 0;
    tube->vertices = tube->mesh->vertices;
    tube->normals = tube->mesh->normals;
    tube->triangles = tube->mesh->triangles;
    tube->rings_per_unit = rings_per_unit;
    tube->sides = sides;
    tube->profile = (TubeProfilePoint*)(tube + 1);
    tube->t_start = t0;
    tube->t_end = t1;
    tube->start_time = t0;
    tube->u_scale = tube->v_scale = 1.0f;
    spline_tube_profile(tube, 1, 1, 0, 1, 1, 1, 1);
    return tube;
}

void spline_tube_free(SplineTube* tube) {
    if (!tube) return;
    mesh_free(tube->mesh);
    envelope_free(tube->curve_x);
    envelope_free(tube->curve_y);
    envelope_free(tube->curve_z);
    std::free(tube);
}

void spline_tube_profile(SplineTube* tube, float a, float b, float m, float n1, float n2, float n3,
                         float scale) {
    if (!tube) return;
    tube->profile_a = a;
    tube->profile_b = b;
    tube->profile_m = m;
    tube->profile_n1 = n1;
    tube->profile_n2 = n2;
    tube->profile_n3 = n3;
    tube->profile_scale = scale;
    for (int j = 0; j < tube->sides; j++) {
        float phi = (float)j * TREE_PI2 / (float)tube->sides;
        float h = m * phi / 4.0f;
        float r = std::pow(std::pow(std::fabs(std::cos(h) / a), n2) +
                               std::pow(std::fabs(std::sin(h) / b), n3),
                           1.0f / n1);
        TubeProfilePoint p = {0.0f, 0.0f};
        if (r != 0.0f && std::isfinite(r)) p = {std::cos(phi) / r, std::sin(phi) / r};
        tube->profile[j] = {p.x * scale, p.y * scale};
    }
}

Vec3 spline_tube_point(const SplineTube* tube, float p) {
    return Vec3{envelope_eval(tube->curve_x, p), envelope_eval(tube->curve_y, p),
                envelope_eval(tube->curve_z, p)};
}

void spline_tube_build(SplineTube* tube, const Envelope* growth, float x) {
    if (!tube) return;
    tube->vertex_count = tube->triangle_count = tube->rings_built = 0;
    tube->mesh->vertex_count = tube->mesh->triangle_count = 0;
    if (!(x > tube->t_start)) return;
    float xe = x < tube->t_end ? x : tube->t_end;
    float span = tube->t_end - tube->t_start;
    int total = (int)std::ceil(span * (float)tube->rings_per_unit);
    if (total < 1) total = 1;
    int n = (int)std::ceil((float)tube->rings_per_unit * (xe - tube->t_start));
    if (n < 2) n = 2;
    int s = tube->sides;
    int max_rings = tube->max_vertices / s;
    if (n > max_rings) n = max_rings;  // rounding must never write past the mesh
    float delta = span / (float)total;

    Vec3 c0 = spline_tube_point(tube, tube->t_start);
    Vec3 c1 = spline_tube_point(tube, tube->t_start + delta);
    Vec3 prev, step;
    vec3_sub(&c1, &c0, &step);
    vec3_sub(&c0, &step, &prev);
    TubeFrame frame;
    tube_frame_start(&frame, &prev, &c0);
    if (vec3_length(&frame.carried) < 1e-6f) {
        // The start lies on a line through the origin along the tangent: any normal will do, or
        // the whole tube would collapse to its centre line.
        const Vec3 t = frame.tangent;
        Vec3 axis = std::fabs(t.x) < 0.9f ? Vec3{1.0f, 0.0f, 0.0f} : Vec3{0.0f, 0.0f, 1.0f};
        vec3_cross(&t, &axis, &frame.carried);
    }
    vec3_normalize(&frame.carried, &frame.carried);

    MeshVertex* verts = tube->mesh->vertices;
    for (int k = 0; k < n; k++) {
        float v = delta * (float)k;
        float w = (1.0f - v) + (growth ? envelope_eval(growth, tube->t_start + v) : 0.0f);
        float p = k == n - 1 ? x : tube->t_start + v;
        Vec3 centre = spline_tube_point(tube, p);
        tube_frame_turn(&frame, &prev, &centre);
        for (int j = 0; j < s; j++) {
            MeshVertex* mv = &verts[k * s + j];
            *mv = MeshVertex{};
            const Vec3 pos =
                tube_frame_point(&frame, tube->profile[j].x * w, tube->profile[j].y * w, &centre);
            mv->px = pos.x;
            mv->py = pos.y;
            mv->pz = pos.z;
            mv->u = (float)j / (float)s * tube->u_scale;
            mv->v = (float)k / (float)total * tube->v_scale;
            mv->colour = 0xFFFFFFFFu;
        }
        prev = centre;
    }
    tube->rings_built = n;
    MeshTriangle* tri = tube->mesh->triangles;
    int count = 0;
    for (int k = 0; k + 1 < n; k++) {
        for (int j = 0; j < s; j++) {
            int j1 = (j + 1) % s;
            int32_t idx[2][3] = {{j + k * s, j1 + k * s, j1 + (k + 1) * s},
                                 {j + k * s, j1 + (k + 1) * s, j + (k + 1) * s}};
            for (auto& e : idx) {
                MeshTriangle* t3 = &tri[count++];
                *t3 = MeshTriangle{};
                t3->vertex_a = e[0];
                t3->vertex_b = e[1];
                t3->vertex_c = e[2];
                t3->base_colour = t3->lit_colour = 0xFFFFFFFFu;
                t3->visible = 1;
            }
        }
    }
    tube->vertex_count = n * s;
    tube->triangle_count = count;
    tube->mesh->vertex_count = n * s;
    tube->mesh->triangle_count = count;
    mesh_compute_normals(tube->mesh);
}

int tree_branch_count(void) { return branch_count; }
SplineTube* tree_branch(int index) {
    return index >= 0 && index < branch_count ? branches[index] : nullptr;
}
int tree_tip_count(void) { return tip_count; }
const Vec3* tree_tips(void) { return tips; }
Envelope* tree_growth_curve(void) { return growth_curve; }

const char* tree_greeting(int row) {
    if (row < 0) row = 0;
    if (row >= TREE_GREETING_COUNT) row = TREE_GREETING_COUNT - 1;
    return greetings[row];
}

void tree_set_pulse(float c) {
    if (!growth_curve) return;
    float g = std::fmod(c, 4.0f) - 1.0f;
    float off = 0.0f;
    for (EnvelopeKey* k = growth_curve->keys; k; k = k->next, off += 0.25f) k->time = g + off;
}

void tree_draw_all(const Camera* camera, float x) {
    tip_count = 0;
    if (branch_count > 0) tree_draw(camera, branches[0], x);
}

int greeting_line(const char* text, int n, const int* shown, int x0, int* out_letter, int* out_x) {
    int count = 0, x = x0;
    for (int i = 0; i < n && text[i]; i++, x += 16) {
        char ch = text[i];
        if (ch < 'a' || ch > 'z' || !shown[i]) continue;
        out_letter[count] = ch - 'a';
        out_x[count] = x;
        count++;
    }
    return count;
}

int scene_tree_init(void) {
    tree_release();
    sky_plane = mesh_from_lwo("data\\plane.lwo");
    sky_dome = mesh_from_lwo("data\\sky.lwo");
    if (!sky_plane || !sky_dome) {
        tree_release();
        return 1;
    }
    for (int i = 0; i < sky_dome->triangle_count; i++)
        sky_dome->triangles[i].base_colour = sky_dome->triangles[i].lit_colour = 0xFFFFFFFFu;
    for (int i = 0; i < sky_dome->vertex_count; i++) {
        sky_dome->vertices[i].env_u = sky_dome->vertices[i].u;
        sky_dome->vertices[i].env_v = sky_dome->vertices[i].v;
    }
    for (int i = 0; i < 26; i++) {
        letter_images[i] = image_new(32, 64);
        if (!letter_images[i]) {
            tree_release();
            return 1;
        }
        char letter[2] = {(char)('A' + i), 0};
        text_render(letter_images[i], "Arial Black", 16, 9, 15, 0xFFFFFFFFu, letter);
    }
    growth_curve = envelope_new();
    if (!growth_curve) {
        tree_release();
        return 1;
    }
    const float key_times[3] = {0.0f, 0.25f, 0.5f}, key_values[3] = {0.0f, 1.5f, 0.0f};
    for (int i = 0; i < 3; i++) {
        EnvelopeKey* k = key_new();
        if (!k) {
            tree_release();
            return 1;
        }
        k->time = key_times[i];
        k->value = key_values[i];
        k->shape = ENVELOPE_SHAPE_TCB;
        envelope_insert_key(growth_curve, k);
    }
    tree_srand(0xB8130882u);
    Vec3 d = {1.0f, 1.0f, 1.0f};
    vec3_normalize(&d, &d);
    tree_grow(0, Vec3{0.0f, -0.1f, 0.0f}, d, 6.0f, 2.5f, 0.0f, nullptr);
    return 0;
}

void scene_tree_free(void) { tree_release(); }

void scene_tree_render(float) {
    if (!sky_plane || !sky_dome || !growth_curve) return;
    float c = clock_beat() - 160.0f;

    Camera camera = {};
    float radius = 32.0f;
    if (c < 4.0f) radius = 32.0f - (4.0f - c) * 2.0f;
    else if (c >= 16.0f && c < 20.0f) radius = 32.0f - (c - 16.0f) * 4.0f;
    else if (c >= 20.0f && c < 24.0f) radius = 32.0f - (4.0f - (c - 20.0f)) * 4.0f;
    Vec3 centre = {0.0f, -10.0f, 0.0f};
    camera_orbit(&camera, c / 6.0f, 0.0f, radius, &centre);
    camera.eye.y -= 8.0f;
    camera_set_screen(&camera, 2.0f, 64.0f);

    tree_set_pulse(c);

    Vec3 light = {0.0f, 0.0f, 1.0f};
    Matrix screen, normal, model_view;
    mat_identity(&sky_plane->object_matrix);
    sky_plane->texture = texture_get(TEXTURE_WOOD);
    camera_object_matrices(&camera, &sky_plane->object_matrix, &screen, &normal, &model_view);
    mesh_transform(sky_plane, &model_view, &normal, MESH_PART_NORMALS);
    mesh_light(sky_plane, &light, MESH_LIGHT_GOURAUD);
    mesh_draw(sky_plane, &camera, TREE_SOLID_MODE, MESH_CLIP_NEAR);

    tree_draw_all(&camera, c);

    for (int i = 0; i < sky_dome->vertex_count; i++)
        sky_dome->vertices[i].u = sky_dome->vertices[i].env_u + c * 0.05f;
    sky_dome->flags = 0;
    sky_dome->texture = texture_get(TEXTURE_SMOKE);
    mat_identity(&sky_dome->object_matrix);
    camera_object_matrices(&camera, &sky_dome->object_matrix, &screen, &normal, &model_view);
    mesh_transform(sky_dome, &model_view, &normal, 0);
    mesh_draw_clipped(sky_dome, &camera, TREE_SKY_MODE);

    greeting_draw(&camera, c / 4.0f);

    Texture* photo = texture_get(TEXTURE_PUNKY_BREWSTER);
    if (photo) image_blit(photo, 0, 0, 64, 0);
}
