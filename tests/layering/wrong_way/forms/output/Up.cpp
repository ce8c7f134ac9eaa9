#include "forms/output/ExcelOutput.h"
#include "forms/shared/TransferFiles.h"
#include "forms/tree/FormList.h"
#include "../table/TableWindow.h"
