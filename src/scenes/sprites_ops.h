// The picture tear of the sprite layer.
#pragma once

// For band starts 0, band, 2 band, ... below 480 - band, one rand() each decides: low bits 1 move the
// band's rows shift pixels left, 3 move them right, filling the uncovered pixels with opaque black;
// 0 and 2 leave the band. A shift above 640 counts as 640; a shift or band below 1 does nothing.
void line_tear(int shift, int band);
