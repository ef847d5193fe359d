// The nine objects of the data set, built as LwoModel records and written as LWO2 files.
#pragma once

#include "assets/lwo_writer.h"

struct ObjectSpec {
    const char* file;               // name under data/
    void (*build)(LwoModel* model);
};

extern const ObjectSpec object_specs[];
extern const int object_spec_count;

// The face normal as the show's reader computes it: cross(p1 - p0, p_last - p0), normalised.
void lwo_face_normal(const LwoModel* model, int polygon, float out[3]);
// Centroid of a polygon's corners.
void lwo_face_centroid(const LwoModel* model, int polygon, float out[3]);

// Writes every object into dir (which must exist); 0, or 1 after the first failure.
int objects_write(const char* dir);
