// Placeholder for the sprites, credits and line tears: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int layer_sprites_init(void) { return 0; }
void layer_sprites_free(void) {}
void layer_sprites_render(float) {}
