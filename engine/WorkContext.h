#pragma once
// What a work window works on: the kind of work, the value table it reads and
// writes, network mode, the institution (or report) and the members summed
// into it. The main window's commands build it; each window keeps its own
// copy, changes only that copy and hands it on to the windows it opens.
#include "engine/WorkModes.h"

#include <QString>
#include <QtGlobal>

struct WorkContext {
    ReportMode mode = ReportMode::None;
    ValueTable table = ValueTable::None;
    bool net = false;
    qint64 institution = 0;
    QString includeList;   // ids joined by ",", no trailing comma
    MemberKind members = MemberKind::Institutions;   // what includeList names
};
