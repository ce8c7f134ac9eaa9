#pragma once
// A header that includes the module which includes it back.
#include "engine/Shape.h"

inline constexpr int kMaxRows = 10000;
