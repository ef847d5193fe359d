// Placeholder for the film-strip and dancer overlays: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int layer_film_strip_init(void) { return 0; }
void layer_film_strip_free(void) {}
void layer_film_strip_render(float) {}
void layer_dancer_render(float) {}
