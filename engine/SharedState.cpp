#include "engine/SharedState.h"

void SharedState::resetWork() {
    ReportMode = ::ReportMode::None;
    NetMode = false;
    DataTableName = ValueTable::None;
    CurrentInstitution = 0;
    IncludeList.clear();
}

SharedState &shared() {
    static SharedState state;
    return state;
}
