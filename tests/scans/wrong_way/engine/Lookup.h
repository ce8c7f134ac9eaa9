#pragma once
// A lookup header that brings the whole state along.
#include "engine/SharedState.h"

int lookUp(int id);
