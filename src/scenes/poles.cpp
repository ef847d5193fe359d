// The cloth-on-poles scene: a square cloth hangs from five bobbing poles, sways with the set-up,
// blows in a noise wind and rests on an invisible tilted floor; from beat 416 it is let go and
// drifts up and away while the camera pulls back.
#include <cmath>

#include "gfx/image.h"
#include "lwo/lwo_mesh.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/poles_cloth.h"
#include "scenes/scene_math.h"
#include "scenes/scenes.h"

enum { POLES_SETTLE_ROUNDS = 512, RELEASE_BEAT = 416 };
static const RenderMode kClothMode = RENDER_BILINEAR | RENDER_DEPTH | RENDER_TEXTURE;
static const RenderMode kWoodMode = RENDER_DEPTH | RENDER_TEXTURE | RENDER_FLAT;
static const RenderMode kGlassMode = RENDER_ADD | RENDER_DEPTH | RENDER_TEXTURE;

Mesh* pole_cube = nullptr;
Mesh* poles_mesh = nullptr;
Mesh* poles_glass = nullptr;
Mesh* cloth_mesh = nullptr;
SpringSystem* cloth = nullptr;
const Vec3 pole_bases[POLE_COUNT] = {
    {-32, 10, -32}, {32, 10, -32}, {-32, 10, 32}, {32, 10, 32}, {0, 10, 0}};
const int pole_masses[POLE_COUNT] = {0, 31, 992, 1023, 528};
Matrix pole_matrix = {};
Vec3 pole_tops[POLE_COUNT] = {};

void floor_collide(SpringSystem* system) {
    const Vec3 up = {0.0f, 1.0f, 0.0f};
    Vec3 n;
    mat_rotate_vector(&pole_matrix, &up, &n);
    vec3_normalize(&n, &n);
    for (int i = 0; i < system->mass_count; i++) {
        Vec3* p = &system->masses[i].position;
        const float e = vec3_dot(p, &n) + 17.0f;
        if (e < 0.0f) vec3_scale_add(&n, -e, p, p);
    }
}

void poles_update(float x) {
    if (!cloth) return;
    if (x >= (float)RELEASE_BEAT) {
        cloth->constraint_callback = nullptr;
        cloth->gravity.y = 1.5f;
        const float dz = -20.0f * (float)demo_clock.clock_delta;
        for (int i = 0; i < cloth->mass_count; i++) {
            SpringMass* m = &cloth->masses[i];
            m->pinned = 0;
            m->position.z += dz;
            m->previous.z += dz;
        }
        return;
    }
    const float h = x / 2.0f;
    mat_rotate_euler(&pole_matrix, h / 4.0f, std::sin(h) * 0.139f, std::sin(0.78f * h) * 0.12f);
    for (int i = 0; i < POLE_COUNT; i++) {
        const Vec3 b = pole_bases[i];
        const float bob = (std::sin((float)i * kPi / 2.0f + h) * 0.5f + 0.5f) * 20.0f;
        const Vec3 p = {b.x, b.y - bob, b.z};
        SpringMass* m = &cloth->masses[pole_masses[i]];
        mat_transform_point(&pole_matrix, &p, &m->position);
        m->previous = m->position;
        pole_tops[i] = m->position;
    }
}

void cloth_copy_to_mesh(void) {
    if (!cloth || !cloth_mesh) return;
    for (int i = 0; i < cloth->mass_count; i++) {
        MeshVertex* v = &cloth_mesh->vertices[i];
        v->px = cloth->masses[i].position.x;
        v->py = cloth->masses[i].position.y;
        v->pz = cloth->masses[i].position.z;
    }
    mesh_compute_normals(cloth_mesh);
}

void cloth_env_uv(Mesh* mesh) {
    const Vec3 k = {0.0f, 0.0f, -1.0f};
    for (int i = 0; i < mesh->vertex_count; i++) {
        const Vec3 n = mesh->normals[i].world_normal;
        Vec3 r;
        vec3_scale_add(&k, -2.0f * vec3_dot(&n, &k), &n, &r);
        vec3_normalize(&r, &r);
        mesh->vertices[i].u = (r.x + 1.0f) * 0.5f;
        mesh->vertices[i].v = (1.0f - r.y) * 0.5f;
    }
}

void poles_camera(Camera* camera, float beat, float t) {
    const int b = (int)beat;
    const float p4 = pow4(frac(beat / 2.0f));
    *camera = Camera{};
    camera->eye = Vec3{0.0f, std::sin(t / 2.0f) * 40.0f, 72.0f};
    camera->target = Vec3{0.0f, 0.0f, 0.0f};
    if (b > RELEASE_BEAT - 1) {
        camera->eye.z = 72.0f + (beat - (float)RELEASE_BEAT) * 12.0f - 4.0f;
    } else {
        camera->eye.x += noise2(beat / 2.0f, p4) * 8.0f;
        camera->eye.z += noise2(p4, beat / 2.0f) * 8.0f;
        // The scene opens from above and settles down over its first two beats.
        if (b < 387) {
            const float m = (2.0f - (beat - 385.0f)) * 25.0f;
            camera->eye.y += m;
            camera->target.y += m;
        }
    }
    camera_set_screen(camera, 1.0f, 80.0f);
}

int scene_poles_init(void) {
    scene_poles_free();
    pole_cube = mesh_from_lwo("data\\cube2.lwo");
    poles_mesh = mesh_from_lwo_split("data\\poles.lwo");
    poles_glass = mesh_from_lwo("data\\poles_trans.lwo");
    cloth_mesh = mesh_create(CLOTH_MASSES, CLOTH_TRIANGLES);
    cloth = spring_system_new(CLOTH_MASSES, CLOTH_SPRINGS);
    if (!pole_cube || !poles_mesh || !poles_glass || !cloth_mesh || !cloth) {
        scene_poles_free();
        return 1;
    }
    for (int i = 0; i < CLOTH_SIDE; i++)
        for (int j = 0; j < CLOTH_SIDE; j++) {
            const int a = i * CLOTH_SIDE + j;
            MeshVertex* v = &cloth_mesh->vertices[a];
            v->px = ((float)j / 31.0f * 2.0f - 1.0f) * 32.0f;
            v->py = 10.0f;
            v->pz = ((float)i / 31.0f * 2.0f - 1.0f) * 32.0f;
            v->colour = 0xFFFFFFFFu;
        }
    int t = 0;
    for (int i = 0; i < CLOTH_SIDE - 1; i++)
        for (int j = 0; j < CLOTH_SIDE - 1; j++) {
            const int a = i * CLOTH_SIDE + j;
            const int corners[2][3] = {{a + 1, a, a + 32}, {a + 1, a + 32, a + 33}};
            for (int k = 0; k < 2; k++) {
                MeshTriangle* tri = &cloth_mesh->triangles[t++];
                tri->vertex_a = corners[k][0];
                tri->vertex_b = corners[k][1];
                tri->vertex_c = corners[k][2];
                tri->base_colour = 0xFFFFFFFFu;
                tri->visible = 1;
            }
        }
    for (int i = 0; i < CLOTH_MASSES; i++) {
        const MeshVertex* v = &cloth_mesh->vertices[i];
        cloth->masses[i].position = Vec3{v->px, v->py, v->pz};
        cloth->masses[i].previous = cloth->masses[i].position;
    }
    int s = 0;
    auto add = [&](int a, int b) {
        Spring* sp = &cloth->springs[s++];
        sp->mass_a = a;
        sp->mass_b = b;
        Vec3 d;
        vec3_sub(&cloth->masses[a].position, &cloth->masses[b].position, &d);
        sp->rest_length = vec3_length(&d);
    };
    for (int i = 0; i < CLOTH_SIDE - 1; i++)
        for (int j = 0; j < CLOTH_SIDE - 1; j++) {
            const int a = i * CLOTH_SIDE + j;
            add(a, a + 1);
            add(a, a + 32);
            add(a, a + 33);
            add(a + 1, a + 32);
            if (j == 30) add(a + 1, a + 33);
            if (i == 30) add(a + 32, a + 33);
        }
    // The centre mass sits just off the centre on an even grid; its pole stands at the origin.
    cloth->masses[528].position.x = cloth->masses[528].position.z = 0.0f;
    cloth->masses[528].previous = cloth->masses[528].position;
    cloth->gravity = Vec3{0.0f, -9.81f, 0.0f};
    cloth->time_step = 1.0f / 30.0f;
    cloth->constraint_callback = floor_collide;
    for (int i = 0; i < POLE_COUNT; i++) cloth->masses[pole_masses[i]].pinned = 1;
    // Settle before the scene is first seen.
    for (int r = 0; r < POLES_SETTLE_ROUNDS; r++) {
        poles_update(385.0f);
        spring_system_step(cloth);
    }
    cloth_copy_to_mesh();
    return 0;
}

void scene_poles_free(void) {
    mesh_free(pole_cube);
    mesh_free(poles_mesh);
    mesh_free(poles_glass);
    mesh_free(cloth_mesh);
    spring_system_free(cloth);
    pole_cube = poles_mesh = poles_glass = cloth_mesh = nullptr;
    cloth = nullptr;
}

static void poles_draw_lit(Mesh* mesh, const Camera* camera, RenderMode mode) {
    Matrix screen, normal, model_view;
    Vec3 light = {0.0f, 0.0f, 1.0f};
    camera_object_matrices(camera, &mesh->object_matrix, &screen, &normal, &model_view);
    mesh_transform(mesh, &model_view, &normal, MESH_PART_FACES);
    mesh_light(mesh, &light, MESH_LIGHT_FLAT);
    mesh_draw(mesh, camera, mode, MESH_CLIP_NONE);
}

void scene_poles_render(float t) {
    if (!cloth || !cloth_mesh) return;
    const float B = clock_beat();
    Camera camera;
    poles_camera(&camera, B, t);

    const double delta = demo_clock.clock_delta;
    cloth->time_step = delta > 0.0 ? (float)delta : 1.0f / 60.0f;
    const float tw = t * 0.1f, ey = camera.eye.y * 0.1f;
    cloth->gravity = Vec3{2.0f * noise2(tw, ey), -4.905f, 2.0f * noise2(ey, tw)};
    poles_update(B);
    spring_system_step(cloth);
    cloth_copy_to_mesh();

    Matrix screen, normal, model_view;
    cloth_mesh->flags = MESH_DOUBLE_SIDED;
    cloth_mesh->texture = texture_get(TEXTURE_INVENV);
    mat_identity(&cloth_mesh->object_matrix);
    camera_object_matrices(&camera, &cloth_mesh->object_matrix, &screen, &normal, &model_view);
    mesh_transform(cloth_mesh, &model_view, &normal, MESH_PART_NORMALS);
    cloth_env_uv(cloth_mesh);
    mesh_draw(cloth_mesh, &camera, kClothMode, MESH_CLIP_NONE);

    Texture* wood = texture_get(TEXTURE_WOOD);
    poles_mesh->texture = wood;
    poles_mesh->object_matrix = pole_matrix;
    poles_draw_lit(poles_mesh, &camera, kWoodMode);
    pole_cube->texture = wood;
    for (int i = 0; i < POLE_COUNT; i++) {
        pole_cube->object_matrix = pole_matrix;
        pole_cube->object_matrix.m[12] = pole_tops[i].x;
        pole_cube->object_matrix.m[13] = pole_tops[i].y;
        pole_cube->object_matrix.m[14] = pole_tops[i].z;
        poles_draw_lit(pole_cube, &camera, kWoodMode);
    }
    poles_glass->flags = MESH_DOUBLE_SIDED;
    poles_glass->texture = texture_get(TEXTURE_ENVI_GRAY);
    poles_glass->object_matrix = pole_matrix;
    poles_draw_lit(poles_glass, &camera, kGlassMode);
}
