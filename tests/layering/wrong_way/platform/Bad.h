#pragma once
#include "platform/Paths.h"
#include "forms/tree/FormList.h"
