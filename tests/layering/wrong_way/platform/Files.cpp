#include "platform/office/Show.h"
