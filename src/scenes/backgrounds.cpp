// Placeholder until the background layer lands.
#include "scenes/scenes.h"

int layer_backgrounds_init(void) { return 0; }
void layer_backgrounds_free(void) {}
void layer_backgrounds_render(float) {}
