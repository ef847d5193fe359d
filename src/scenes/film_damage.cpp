// Placeholder for the film scratches and hairs: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int layer_film_damage_init(void) { return 0; }
void layer_film_damage_free(void) {}
void layer_film_damage_render(float) {}
