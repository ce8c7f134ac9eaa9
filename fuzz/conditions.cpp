// Conditions files (".cnd", forms/shared/FormListLogic) imported into the
// network form of the sample, and the recalculation of its calculated cells
// with what was imported (engine/Conditions through engine/RuleEngine).
// Oracles: an import replaces the conditions of the tables its file carries
// and changes nothing else; the conditions imported, exported and imported
// again are exported the same; the recalculation fails with nothing else
// than a Russian message.
#include "fuzz/Fuzz.h"

#include "core/SampleConfig.h"
#include "engine/RuleEngine.h"
#include "engine/TableShape.h"
#include "forms/shared/FormListLogic.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QSqlQuery>

namespace {

// The conditions of every table: tid -> its rows as text.
QMap<qint64, QStringList> conditions() {
    QMap<qint64, QStringList> out;
    QSqlQuery q = db::exec(db::connection(db::kMain),
                           QStringLiteral("select tid, \"row\", \"column\", type, formula, condition, koeff, country, "
                                          "midle, types from conditions order by rowid"));
    while (q.next()) {
        QStringList f;
        for (int i = 1; i < 10; ++i) f << q.value(i).toString();
        out[q.value(0).toLongLong()] << f.join(u'\t');
    }
    return out;
}

QStringList fileLines(const QString &path) {
    QStringList lines;
    cp1251::readLines(path, lines);
    return lines;
}

} // namespace

void fuzz::input(const QByteArray &input) {
    fuzz::sample();
    const QString path = fuzz::writeInput(input, QStringLiteral("input.cnd"));
    const qint64 form = sample::ids::FormF47;
    const QString name = QStringLiteral("Ф47");
    const QMap<qint64, QStringList> before = conditions();
    fuzz::rolledBack("the import of conditions", [&] {
        const formlist::ConditionsImport r = formlist::importConditions(form, name, path);
        const QMap<qint64, QStringList> after = conditions();
        for (auto it = before.begin(); it != before.end(); ++it)
            if (it.key() != sample::ids::TableF47Network)
                fuzz::check(after.value(it.key()) == it.value(), "the conditions of other forms stay");
        fuzz::check(r.tables <= 1 && (r.tables == 1 || after == before), "only the tables the file carries change");
        // Exported, imported and exported again: the same file.
        const QString exported = fuzz::scratch() + QStringLiteral("exported.cnd");
        formlist::exportConditions(form, name, exported);
        const QStringList first = fileLines(exported);
        formlist::importConditions(form, name, exported);
        formlist::exportConditions(form, name, exported);
        fuzz::check(fileLines(exported) == first, "exported conditions import to themselves",
                    first.join(u'\n') + QStringLiteral("\n  again:\n") + fileLines(exported).join(u'\n'));

        // The calculated cells are computed with the conditions imported.
        RuleRunContext context;
        context.institution = sample::ids::ReportNetwork;
        context.valueTable = ValueTable::RepData;
        context.net = true;
        context.includeList = QStringLiteral("5,6,7,8,9,10,11,12,13,14,15,16");
        RuleRun run(context);
        fuzz::answers("the calculated cells", [&] {
            run.createMatrix(ReadTableShape(db::connection(db::kMain), sample::ids::TableF47Network));
            run.calcConditions(sample::ids::TableF47Network);
        });
    });
    return;
}
