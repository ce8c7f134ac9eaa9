#include "platform/Dialogs.h"
#include "../Fonts.h"
