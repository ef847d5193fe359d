// Placeholder until the blits land: draws nothing.
#include "gfx/blit.h"

void image_blit(const Image*, int, int, uint32_t, uint32_t) {}
void image_draw(const Image*, int, int, uint32_t) {}
