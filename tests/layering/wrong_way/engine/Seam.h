#pragma once
#include "../reports/ReportList.h"
#include <reports/ReportList.h>
#include "platform/Dialogs.h"
#include "platform/Errors.h"
