#include "engine/ValueIO.h"
#include "engine/Lookups.h"
#include "engine/ProgressSink.h"
#include "engine/SharedState.h"
#include "engine/SummaryMembers.h"
#include "engine/TableValues.h"
#include "platform/Database.h"

void SaveTableData(const ValueMatrix &m, ValueTable table, qint64 institution, qint64 formId,
                   const QString &tableKey) {
    const qint64 ident = GetTableIdentByFormId(formId, tableKey);
    if (ident < 0)
        throw db::Error(QStringLiteral("Таблица %1 формы %2 не найдена: значения не сохранены")
                            .arg(tableKey, GetFormNameById(formId)));
    const int year = shared().Year;
    QSqlDatabase d = db::connection(db::kData);
    db::transaction(d, [&] {
        TableValueWriter writer(d, table, institution, year, ident);
        if (!m.isCreated()) return;
        for (int c = m.lowColumn(); c <= m.highColumn(); ++c)
            for (int r = m.lowRow(); r <= m.highRow(); ++r) writer.write(c, r, m.at(c, r));
    });
}

void SumHospitalsData(ValueMatrix &m, const QString &includeList, qint64 formId, const QString &tableKey,
                      ProgressPacer *pacer, MemberKind kind, qint64 self) {
    const SummaryMembers members = RequireMembers(kind, includeList, self);
    const qint64 ident = GetTableIdentByFormId(formId, tableKey);
    // Rows go straight into the matrix; the gauge moves by time, not by row.
    db::readNumbers(db::connection(db::kData),
                    QStringLiteral("select \"column\", \"row\", data from %1 where year=? and \"table\"=? "
                                   "and hospital in (%2)").arg(ValueTableName(members.valueTable()), db::inList(members.ids)),
                    {shared().Year, ident}, 3, [&](const double *f) {
                        m.add(int(f[0]), int(f[1]), f[2]);
                        if (pacer) pacer->tick();
                    });
}
