#pragma once
#include "engine/Common.h"
#include <QtWidgets/QWidget>
