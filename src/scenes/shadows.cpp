// Placeholder for the torus-knot shadow scene: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int scene_shadows_init(void) { return 0; }
void scene_shadows_free(void) {}
void scene_shadows_render(float) {}
