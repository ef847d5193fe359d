// Placeholder for the carved-box iso-surface scene: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int scene_carved_box_init(void) { return 0; }
void scene_carved_box_free(void) {}
void scene_carved_box_render(float) {}
