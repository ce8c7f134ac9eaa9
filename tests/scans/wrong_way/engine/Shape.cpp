#include "engine/Shape.h"

#include "engine/Limits.h"

bool shapeFits(const Shape &shape) { return shape.rows <= kMaxRows; }
