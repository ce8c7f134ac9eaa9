#include "forms/table/Window.h"
#include "forms/table/Grid.h"
