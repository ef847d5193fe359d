// Placeholder for the title images and spinning screens: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int scene_intro_tv_init(void) { return 0; }
void scene_intro_tv_free(void) {}
void scene_intro_tv_render(float) {}
