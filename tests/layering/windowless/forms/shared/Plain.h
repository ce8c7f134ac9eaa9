#include "engine/UnitTree.h"
#include "platform/Database.h"
#include "forms/shared/TransferFiles.h"
#include <QString>
#include <QtCore/QList>
