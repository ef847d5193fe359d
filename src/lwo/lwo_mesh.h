// Conversion of an LWO2 object into a Mesh: the first layer's points become vertices, its triangles
// MeshTriangle records with the surface colour, and texture coordinates come from its maps.
//
// mesh_from_lwo shares one vertex per point, so per-polygon coordinates overwrite each other at
// shared points; mesh_from_lwo_split makes an extra vertex wherever a per-polygon coordinate differs
// from the point's own by 1/512 or more, so seams keep both. Both print "error\n" for a polygon of
// more than three corners and return null for a file that cannot be read or has no points or no
// triangles; the result is released with mesh_free.
#pragma once
#include "lwo/lwo.h"
#include "render3d/mesh.h"

Mesh* mesh_from_lwo(const char* file_name);
Mesh* mesh_from_lwo_split(const char* file_name);

// The same from an object already loaded; the object is released in every case.
Mesh* mesh_from_lwo_object(LwObject* object);
Mesh* mesh_from_lwo_object_split(LwObject* object);

// 0xFF000000 | r << 16 | g << 8 | b with each channel trunc(c * 255), channels clamped to [0, 1];
// white without a surface.
uint32_t lwo_surface_colour(const LwSurface* surface);
