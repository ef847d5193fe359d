// Placeholder for the spring-rope cube scene: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int scene_springs_init(void) { return 0; }
void scene_springs_free(void) {}
void scene_springs_render(float) {}
