// Placeholder until the texture table lands: an empty table.
#include "gfx/image.h"

int textures_init(void) { return 0; }
void textures_free(void) {}
Texture* texture_get(int) { return nullptr; }
