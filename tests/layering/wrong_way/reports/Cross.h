#pragma once
#include "forms/tree/FormList.h"
#include "controls/Cld.h"
