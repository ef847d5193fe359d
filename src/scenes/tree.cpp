// Placeholder for the growing tree and greetings scene: builds nothing and draws nothing until it lands.
#include "scenes/scenes.h"

int scene_tree_init(void) { return 0; }
void scene_tree_free(void) {}
void scene_tree_render(float) {}
