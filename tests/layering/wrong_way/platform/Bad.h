#pragma once
#include "platform/Paths.h"
#include "forms/FormList.h"
