#include "engine/SharedState.h"

SharedState &shared() {
    static SharedState state;
    return state;
}
