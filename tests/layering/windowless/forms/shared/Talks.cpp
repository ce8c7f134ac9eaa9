#include "forms/shared/Plain.h"
#include <QtWidgets/QTreeWidgetItem>
#include <QtGui>
#include "platform/Dialogs.h"
#include "core/ListWindow.h"
#include "../../widgets/WindowLayout.h"
#include "platform/Errors.h"
