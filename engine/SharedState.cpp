#include "engine/SharedState.h"

void SharedState::resetWork() {
    ReportMode = ::ReportMode::None;
    NetMode = false;
    DataTableName = ValueTable::None;
    CurrentInstitution = 0;
    IncludeList.clear();
    RoundResult = false;
    DataMatrix.clear();
    CurrentFormKey.clear();
    CurrentTableKey.clear();
    FixRowsMinusOne = 0;
    ControlErrors.clear();
    RuleLeftList.clear();
    RuleRightList.clear();
    RuleRelationList.clear();
    RuleCommentList.clear();
    RuleCycleList.clear();
}

SharedState &shared() {
    static SharedState state;
    return state;
}
