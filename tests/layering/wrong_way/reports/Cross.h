#pragma once
#include "forms/FormList.h"
#include "controls/Cld.h"
