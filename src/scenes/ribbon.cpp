// Placeholder for the bump-mapped sphere with ribbons and sparks: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int scene_ribbon_init(void) { return 0; }
void scene_ribbon_free(void) {}
void scene_ribbon_render(float) {}
