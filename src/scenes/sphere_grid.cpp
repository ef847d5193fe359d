// Placeholder for the ray-cast sphere grid: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int scene_sphere_grid_init(void) { return 0; }
void scene_sphere_grid_free(void) {}
void scene_sphere_grid_render(float) {}
