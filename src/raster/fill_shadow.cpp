// The shadow depth pass into the second depth buffer and the two shadow-tested fillers.
#include "raster/raster_fill.h"

RASTER_DEFINE_FILLER(0x0010)
RASTER_DEFINE_FILLER(0x4011)
RASTER_DEFINE_FILLER(0x4015)
