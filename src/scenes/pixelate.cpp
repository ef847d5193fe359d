// Placeholder for the mosaic layer: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int layer_pixelate_init(void) { return 0; }
void layer_pixelate_free(void) {}
void layer_pixelate_render(float) {}
