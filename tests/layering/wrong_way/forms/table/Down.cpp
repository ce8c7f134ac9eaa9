#include "forms/table/TableWindow.h"
#include "forms/structure/StructureEdit.h"
#include "../output/ExcelOutput.h"
#include <forms/shared/FormListCommon.h>
