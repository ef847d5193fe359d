// The background layer: the first row of every frame, painting the current section's full-screen
// picture over the grey clear and cross-fading at two section changes. The pictures belong to the
// texture table; this layer only keeps pointers.
#include <cmath>

#include "gfx/blit.h"
#include "gfx/image.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"

enum { BACKGROUND_BUMP, BACKGROUND_CUBE, BACKGROUND_META, BACKGROUND_SHADOWS, BACKGROUND_SPRINGS,
       BACKGROUND_COUNT };

static Image* backgrounds[BACKGROUND_COUNT];

int layer_backgrounds_init(void) {
    for (int i = 0; i < BACKGROUND_COUNT; i++) backgrounds[i] = texture_get(TEXTURE_BUMP_BG + i);
    return 0;
}

void layer_backgrounds_free(void) {}

// Backgrounds missing from the table (a data set without them) leave the grey clear showing. The
// copy is held, so that a picture blended over it next is drawn in the same pass.
static void backgrounds_copy(int which) {
    if (backgrounds[which]) image_draw_base(backgrounds[which]);
}

static void backgrounds_fade(int which, float opacity) {
    if (backgrounds[which]) image_blit(backgrounds[which], 0, 0, (uint32_t)(int)opacity, 0);
}

void layer_backgrounds_render(float) {
    int b = clock_beat_index();
    float t = clock_beat();
    if (b >= 32 && b <= 95) {
        backgrounds_copy(BACKGROUND_CUBE);
    } else if (b >= 96 && b <= 159) {
        backgrounds_copy(BACKGROUND_SHADOWS);
    } else if (b >= 192 && b <= 255) {
        backgrounds_copy(BACKGROUND_META);
    } else if (b >= 256 && b <= 319) {
        backgrounds_copy(BACKGROUND_SPRINGS);
        if (b < 260) {
            // meta fades out over springs during beats 256 to 260
            float o = std::floor((1.0f - (t - 256.0f) / 4.0f) * 255.0f);
            backgrounds_fade(BACKGROUND_META, o > 0.0f ? o : 0.0f);
        }
    } else if (b >= 320 && b <= 384) {
        backgrounds_copy(BACKGROUND_BUMP);
        if (b >= 380) {
            // shadows fades in during beats 380 to 385
            backgrounds_fade(BACKGROUND_SHADOWS, std::floor((t - 380.0f) * 255.0f / 5.0f));
        }
    } else if (b >= 385 && b <= 433) {
        backgrounds_copy(BACKGROUND_SHADOWS);
    }
}
