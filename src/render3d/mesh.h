// Mesh: the one renderable object of the 3D pipeline.
#pragma once
#include <cstdint>
#include "raster/raster.h"
#include "render3d/vecmath.h"

struct VertexNormal {
    Vec3 normal;        // object space
    Vec3 world_normal;  // transformed and normalised
};

struct VertexTangent {
    Vec3 tangent;
    Vec3 world_tangent;  // accumulates bitangents while tangents are computed
    float handedness;    // +1 or -1
};

struct MeshTriangle {
    int32_t vertex_a, vertex_b, vertex_c;
    Vec3 normal;          // object-space unit face normal
    float plane_d;        // -dot(normal, position of vertex_a)
    Vec3 world_normal;
    uint32_t base_colour;
    uint32_t lit_colour;  // what drawing hands to the rasterizer
    int32_t visible;
};

enum : int32_t { MESH_DOUBLE_SIDED = 0x1, MESH_PROJECTIVE = 0x2 };

struct Mesh {
    int32_t flags;
    int32_t vertex_count;
    MeshVertex* vertices;
    MeshVertex* saved_vertices;
    VertexNormal* normals;
    VertexTangent* tangents;
    int32_t triangle_count;
    MeshTriangle* triangles;
    Texture* texture;       // not owned
    Matrix object_matrix;
    Matrix normal_matrix;
};
