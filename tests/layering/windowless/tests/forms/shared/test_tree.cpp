#include "core/TreeMarking.h"
#include "platform/Dialogs.h"
#include <QTreeWidget>
#include <QtWidgets/QApplication>
