// Placeholder until the noise tables land.
#include "procedural/noise.h"

void noise_init(int) {}
void noise_free(void) {}
