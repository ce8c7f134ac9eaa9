#include "forms/table/FormNavigator.h"

namespace {
FormNavigator *g_navigator = nullptr;
}

FormNavigator *currentFormNavigator() { return g_navigator; }
void setCurrentFormNavigator(FormNavigator *navigator) { g_navigator = navigator; }
