#pragma once
#include "forms/table/Window.h"
