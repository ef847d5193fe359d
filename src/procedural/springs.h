// A small mass-spring system for ropes and dangling objects: point masses moved by position Verlet
// integration under one shared acceleration, and distance constraints ("springs") relaxed in two
// fixed passes per step by moving both ends half of the length error. Pinned masses never move.
//
// A system is one allocation: the header, then the masses, then the springs, all zeroed at
// creation. Creation returns null on bad counts or when memory runs out; nothing else fails and
// stepping allocates nothing. Main thread only.
#pragma once
#include "render3d/vecmath.h"

struct SpringMass {
    Vec3 position;
    Vec3 previous;      // position one step earlier: the velocity is implicit
    Vec3 acceleration;  // for the next step
    int pinned;         // non-zero: the mass never moves
};

struct Spring {
    int mass_a;
    int mass_b;
    float rest_length;
};

struct SpringSystem;
typedef void (*SpringConstraintFn)(SpringSystem* system);

struct SpringSystem {
    int mass_count;
    SpringMass* masses;  // directly after the header
    int spring_count;
    Spring* springs;     // directly after the masses
    Vec3 gravity;        // acceleration of every mass, initially zero
    float time_step;     // seconds per step, initially 1/30
    SpringConstraintFn constraint_callback;  // called at the start of every relaxation pass, or null
};

SpringSystem* spring_system_new(int mass_count, int spring_count);
void spring_system_free(SpringSystem* system);  // accepts null
// A rope of count (at least 2) evenly spaced masses at rest from start to end, mass 0 pinned.
// Spring 0 joins the last two masses and the last spring joins masses 0 and 1, so relaxation runs
// from the free end towards the anchor.
SpringSystem* spring_rope_new(const Vec3* start, const Vec3* end, int count);
// One time step: gravity, integration of every free mass except mass 0 (which moves only through
// relaxation or its caller), then two relaxation passes. A spring whose ends coincide has no
// direction and is left alone; springs naming a mass outside the system are skipped.
void spring_system_step(SpringSystem* system);
// spring_system_step on each of count systems (null ones skipped), with the same results; ropes of
// one length that sit together are relaxed side by side.
void spring_systems_step(SpringSystem* const* systems, int count);
