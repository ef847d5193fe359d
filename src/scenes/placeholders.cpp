// Scenes and layers still to be built: each initialises to nothing and draws nothing. A scene's own
// file replaces its lines here when it lands.
#include "scenes/scenes.h"

#define QUILLET_PLACEHOLDER_PART(name) \
    int name##_init(void) { return 0; } \
    void name##_free(void) {}           \
    void name##_render(float) {}

QUILLET_PLACEHOLDER_PART(scene_cube)
QUILLET_PLACEHOLDER_PART(scene_tree)
QUILLET_PLACEHOLDER_PART(scene_springs)
QUILLET_PLACEHOLDER_PART(scene_shadows)
QUILLET_PLACEHOLDER_PART(scene_carved_box)
QUILLET_PLACEHOLDER_PART(scene_poles)
QUILLET_PLACEHOLDER_PART(scene_ribbon)
QUILLET_PLACEHOLDER_PART(scene_intro_tv)
QUILLET_PLACEHOLDER_PART(scene_sphere_grid)
QUILLET_PLACEHOLDER_PART(layer_film_strip)
QUILLET_PLACEHOLDER_PART(layer_sprites)
QUILLET_PLACEHOLDER_PART(layer_film_damage)
QUILLET_PLACEHOLDER_PART(layer_pixelate)

void layer_dancer_render(float) {}
