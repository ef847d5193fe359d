// Dispatch of the drawing entries on the exact mode value, and the two map slots.
#include "raster/raster.h"

static const Texture* raster_env_map = nullptr;
static const Texture* raster_bump_map = nullptr;

void raster_set_env_map(const Texture* texture) { raster_env_map = texture; }
void raster_set_bump_map(const Texture* texture) { raster_bump_map = texture; }

// Fillers are being built; until then every entry draws nothing.
void polygon_draw_list(const MeshVertex*, int32_t, uint32_t, uint32_t, const Texture*, RenderMode) {}
void polygon_draw_fan(const MeshVertex*, int32_t, uint32_t, uint32_t, const Texture*, RenderMode) {}
void triangles_draw(RasterTriangle*, int32_t, const Texture*, RenderMode) {}
void edge_setup(EdgeFunction*, const MeshVertex*, const MeshVertex*) {}
void edge_flip(EdgeFunction*) {}
int triangle_setup(RasterTriangle*) { return 1; }
void gradient_setup(const RasterTriangle*, Gradient*, float, float, float) {}
void gradient_setup_int(const RasterTriangle*, Gradient*, int32_t, int32_t, int32_t) {}
