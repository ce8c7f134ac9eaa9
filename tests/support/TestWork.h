#pragma once
// The work context a test opens its windows and runs with, as a main-window
// command would hand it over. The fixtures clear it before each test.
#include "engine/WorkContext.h"

inline WorkContext &testWork() {
    static WorkContext work;
    return work;
}
