// Environment-map, bump-offset and dot3 fillers, reading the two map slots.
#include "raster/raster_fill.h"

RASTER_DEFINE_FILLER(0x0414)
RASTER_DEFINE_FILLER(0x0C10)
RASTER_DEFINE_FILLER(0x0C14)
RASTER_DEFINE_FILLER(0x1014)
RASTER_DEFINE_FILLER(0x1414)
