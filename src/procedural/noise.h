// Gradient noise in one, two and three dimensions, and a small random generator.
#pragma once

void noise_init(int seed);  // seed 0 leaves the runtime's generator alone
void noise_free(void);
