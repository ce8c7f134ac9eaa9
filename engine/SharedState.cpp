#include "engine/SharedState.h"

void SharedState::resetWork() {
    ReportMode.clear();
    NetMode = false;
    DataTableName.clear();
    CurrentInstitution = 0;
    IncludeList.clear();
    GroupLoadForms.clear();
}

SharedState &shared() {
    static SharedState state;
    return state;
}
