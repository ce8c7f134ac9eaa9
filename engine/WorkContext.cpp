#include "engine/WorkContext.h"

#include "engine/SharedState.h"

WorkContext sharedWorkContext() {
    const SharedState &s = shared();
    return WorkContext{s.ReportMode, s.DataTableName, s.NetMode, s.CurrentInstitution, s.IncludeList};
}
