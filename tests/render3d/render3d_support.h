// Test support for the 3D pipeline: a cube built in code, a guarded stand-in for the display's
// buffers that detects writes outside the screen and a reference silhouette.
#pragma once
#include <cstdint>
#include <vector>

#include "render3d/mesh.h"
#include "support/test_support.h"

// A cube of side 2 around the origin: 24 vertices (4 per face, u, v 0..1 per face), 12 triangles,
// face i with colour face_colours[i]; normals computed.
extern const uint32_t cube_face_colours[6];
Mesh* test_cube(void);

// Swaps framebuffer.pixels and the main and shadow depth values for buffers with guard bands on
// both sides; guards_intact reports whether anything wrote into the bands.
struct GuardedScreen {
    std::vector<uint32_t> frame;
    std::vector<int32_t> depth;
    std::vector<int32_t> shadow;
    uint32_t* saved_pixels;
    int32_t* saved_depth;
    int32_t* saved_shadow;
};
void guarded_begin(GuardedScreen* g, uint32_t clear);
bool guarded_intact(const GuardedScreen* g);
void guarded_end(GuardedScreen* g);
void guarded_clear(GuardedScreen* g, uint32_t clear);
uint32_t* guarded_pixels(GuardedScreen* g);

// Pixels (x, y) inside the convex hull of the screen positions of `points` projected through
// object * view * screen in double precision; `margin` pixels either side of the outline are
// reported as 2 (uncertain), inside as 1, outside as 0.
std::vector<uint8_t> reference_silhouette(const Camera* camera, const Matrix* object,
                                          const Vec3* points, int count, double margin);
