// The film-damage layer's records and drawing, open to the tests.
#pragma once
#include <cstdint>

enum { FILM_SCRATCH_COUNT = 9, FILM_SCRATCHES_DRAWN = 4, FILM_HAIR_COUNT = 16, FILM_HAIR_POINTS = 11,
       FILM_SCRATCH_X_MAX = 10208 };

// A vertical scratch: x in 1/16 pixel, velocity doubled (x moves by velocity / 2 per frame), life
// in quarter beats.
struct FilmScratch {
    int x;
    int velocity;
    int duration;
    int born;
    int visible;
    int opacity;
};

// A short black hair: life in sixteenths of a beat, a polyline of point_count points.
struct FilmHair {
    int duration;
    int born;
    int visible;
    int blink;       // 0, 1: drawn every frame; 2, 3: every other frame
    int size;        // length of the first segment
    int point_count;
    int points[FILM_HAIR_POINTS][2];
};

extern FilmScratch film_scratches[FILM_SCRATCH_COUNT];
extern FilmHair film_hairs[FILM_HAIR_COUNT];

void film_hair_spawn(FilmHair* hair);  // new random shape and life (born untouched)
// A one-pixel line, both ends clamped to the screen, inclusive of both ends.
void draw_line(int x0, int y0, int x1, int y1, uint32_t colour);
