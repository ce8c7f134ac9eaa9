#pragma once
// The state included beside the header, by its short path.
#  include <SharedState.h>

void saveValues();
