#include "platform/Dialogs.h"
#include "../../forms/tree/FormList.h"
#include "support/FakeDialogs.h"
