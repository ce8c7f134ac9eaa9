#include "platform/Dialogs.h"
#include "../../forms/FormList.h"
#include "support/FakeDialogs.h"
