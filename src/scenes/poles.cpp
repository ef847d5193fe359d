// Placeholder for the cloth on poles scene: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int scene_poles_init(void) { return 0; }
void scene_poles_free(void) {}
void scene_poles_render(float) {}
