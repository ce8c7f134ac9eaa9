// Value transfer files (forms/shared/TransferFiles) through every load of
// the sample: a whole institution, one form, one table, a summary report.
// Oracles: a load changes only what its file says (the values outside its
// scope stay as they were, and every value of its scope afterwards is a line
// of the file, at the same cell and equal); the question before a whole-year
// load names the forms the load empties and changes nothing; the writer
// writes what was loaded and its file reads back as those values.
#include "fuzz/Fuzz.h"

#include "core/SampleConfig.h"
#include "engine/TextUtil.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Database.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QSqlQuery>

namespace {

struct Cell {
    qint64 hospital = 0;
    int year = 0;
    qint64 table = 0;
    int column = 0, row = 0;
    auto operator<=>(const Cell &) const = default;
};
using Values = QMap<Cell, double>;

Values stored(ValueTable valueTable) {
    Values out;
    QSqlQuery q = db::exec(db::connection(db::kData),
                           QStringLiteral("select hospital, year, \"table\", \"column\", \"row\", data from %1")
                               .arg(valueTable == ValueTable::RepData ? QStringLiteral("repdata") : QStringLiteral("data")));
    while (q.next())
        out.insert({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toLongLong(), q.value(3).toInt(),
                    q.value(4).toInt()},
                   q.value(5).toDouble());
    return out;
}

struct TableName {
    QString form, tablen;
};
const QHash<qint64, TableName> &tableNames() {
    static QHash<qint64, TableName> names;
    if (names.isEmpty()) {
        QSqlQuery q = db::exec(db::connection(db::kMain),
                               QStringLiteral("select t.ident, f.formname, t.tablen from tables t join forms f on f.id = t.form"));
        while (q.next()) names.insert(q.value(0).toLongLong(), {q.value(1).toString(), q.value(2).toString()});
    }
    return names;
}

QString shown(const Cell &c, double v) {
    return QStringLiteral("hospital %1 year %2 table %3 column %4 row %5 value %6")
        .arg(c.hospital).arg(c.year).arg(c.table).arg(c.column).arg(c.row).arg(v, 0, 'g', 17);
}

// The file's value for a stored cell, when it has one line for it.
std::optional<double> fileValue(const transfer::ParsedFile &file, const Cell &c) {
    const TableName t = tableNames().value(c.table);
    for (const transfer::Record &r : file.records)
        if (r.year == c.year && r.column == c.column && r.row == c.row && text::sameName(r.tablen, t.tablen) &&
            text::sameName(r.form, t.form))
            return r.value;
    return std::nullopt;
}

// One load, rolled back. It may change the target's values of these tables
// (every table when empty); a load of a form or a table (carriedOnly)
// replaces only the tables its file has lines for and leaves the others.
void load(const char *name, const transfer::ParsedFile &file, ValueTable valueTable, qint64 target,
          const QList<qint64> &tables, const std::function<transfer::LoadResult()> &run) {
    const bool carriedOnly = !tables.isEmpty();
    const Values before = stored(valueTable);
    const Values otherBefore = stored(valueTable == ValueTable::Data ? ValueTable::RepData : ValueTable::Data);
    fuzz::rolledBack(name, [&] {
        const transfer::LoadResult result = run();
        const Values after = stored(valueTable);
        auto inScope = [&](const Cell &c) {
            return c.hospital == target && c.year == fuzz::sample().year && (tables.isEmpty() || tables.contains(c.table));
        };
        QSet<qint64> replaced;   // tables of the scope the load changed
        for (auto it = before.begin(); it != before.end(); ++it)
            if (inScope(it.key()) && after.value(it.key(), std::nan("")) != it.value()) replaced.insert(it.key().table);
        for (auto it = after.begin(); it != after.end(); ++it)
            if (inScope(it.key()) && !(before.contains(it.key()) && before.value(it.key()) == it.value()))
                replaced.insert(it.key().table);
        auto replacedCell = [&](const Cell &c) { return inScope(c) && (!carriedOnly || replaced.contains(c.table)); };
        for (auto it = before.begin(); it != before.end(); ++it)
            if (!inScope(it.key()))
                fuzz::check(after.value(it.key(), std::nan("")) == it.value(), "a value outside the load's scope stays",
                            QString::fromUtf8(name) + u' ' + shown(it.key(), it.value()));
        int inside = 0;
        for (auto it = after.begin(); it != after.end(); ++it) {
            if (!inScope(it.key())) {
                fuzz::check(before.contains(it.key()), "no value appears outside the load's scope",
                            QString::fromUtf8(name) + u' ' + shown(it.key(), it.value()));
                continue;
            }
            if (!replacedCell(it.key())) continue;
            ++inside;
            const std::optional<double> v = fileValue(file, it.key());
            fuzz::check(v && fuzz::sameValue(*v, it.value()), "every value the load leaves is its file's",
                        QString::fromUtf8(name) + u' ' + shown(it.key(), it.value()));
        }
        // A table loaded with the values it held is not seen as replaced.
        fuzz::check(carriedOnly ? result.inserted >= inside : result.inserted == inside,
                    "the load counts the values it stored",
                    QStringLiteral("%1: %2 counted, %3 stored").arg(QString::fromUtf8(name)).arg(result.inserted).arg(inside));
        fuzz::check(stored(valueTable == ValueTable::Data ? ValueTable::RepData : ValueTable::Data) == otherBefore,
                    "the other value table stays", QString::fromUtf8(name));
        if (valueTable != ValueTable::Data || !tables.isEmpty()) return;
        // What was loaded is what the writer writes, and its file reads back so.
        const QString written = fuzz::scratch() + QStringLiteral("written.orw");
        transfer::writeValues(db::connection(db::kData), ValueTable::Data, target, fuzz::sample().year, written);
        const transfer::ParsedFile back = transfer::readFile(written);
        int lines = 0;
        for (auto it = after.begin(); it != after.end(); ++it) {
            if (!inScope(it.key())) continue;
            ++lines;
            const std::optional<double> v = fileValue(back, it.key());
            fuzz::check(v && fuzz::sameValue(*v, it.value()), "the written file reads back as the stored values",
                        shown(it.key(), it.value()));
        }
        fuzz::check(back.records.size() == lines, "the written file holds the stored values only");
    });
}

} // namespace

void fuzz::input(const QByteArray &in) {
    fuzz::sample();
    fuzz::answers("reading a file of form ids", [&] { transfer::readFile(fuzz::writeInput(in, QStringLiteral("ids.orv"))); });
    const QString path = fuzz::writeInput(in, QStringLiteral("Северная ЦРБ - 2024.orw"));
    transfer::ParsedFile file;
    if (!fuzz::answers("reading a file", [&] { file = transfer::readFile(path); })) return;
    const qint64 unit = sample::ids::NorthHospital;

    // The question before the whole-year load changes nothing and names what the load empties.
    const Values before = stored(ValueTable::Data);
    QStringList asked;
    const bool answered = fuzz::answers("the question before a load", [&] {
        asked = transfer::formsEmptiedByUnitLoad(unit, path, QString(), false);
    });
    fuzz::check(stored(ValueTable::Data) == before, "the question before a load changes nothing");
    load("the load of an institution", file, ValueTable::Data, unit, {}, [&] {
        const transfer::LoadResult r = transfer::LoadUnitInfo(unit, path, QString(), false, {}, transfer::Writing::IntoRunning);
        fuzz::check(answered, "a load the question refused is refused");
        fuzz::check(r.emptiedForms == asked, "the question names the forms the load empties",
                    asked.join(u',') + QStringLiteral(" / ") + r.emptiedForms.join(u','));
        return r;
    });
    load("the load of a form", file, ValueTable::Data, unit,
         {sample::ids::TableF30Staff, sample::ids::TableF30Visits},
         [&] { return transfer::loadForm(unit, path, ValueTable::Data, sample::ids::FormF30, QStringLiteral("Ф30")); });
    load("the load of a table", file, ValueTable::Data, unit, {sample::ids::TableF14Patients}, [&] {
        return transfer::loadTable(unit, path, ValueTable::Data, sample::ids::FormF14, QStringLiteral("Ф14"),
                                   sample::ids::TableF14Patients, QStringLiteral("(1000)"));
    });
    load("the load of a report", file, ValueTable::RepData, sample::ids::ReportNorth, {},
         [&] { return transfer::loadReport(sample::ids::ReportNorth, path); });
    return;
}
