#include "forms/shared/TransferFiles.h"
