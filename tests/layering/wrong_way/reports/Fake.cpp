#include "tests/support/FakeDialogs.h"
