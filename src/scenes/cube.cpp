// Placeholder for the voxel-cube field scene: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int scene_cube_init(void) { return 0; }
void scene_cube_free(void) {}
void scene_cube_render(float) {}
