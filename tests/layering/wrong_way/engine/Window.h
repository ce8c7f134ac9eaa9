#pragma once
#include "engine/Lookups.h"
#include <QtWidgets/QWidget>
