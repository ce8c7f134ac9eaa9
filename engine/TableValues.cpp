#include "engine/TableValues.h"
#include "engine/CellNumbering.h"

#include <cmath>

#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "platform/Database.h"

#include <QSqlError>
#include <QVariant>

namespace {
// The value table a writer writes: one must be chosen. A window or job
// without one stores nothing rather than writing an institution's values.
QString writtenTable(ValueTable valueTable) {
    if (valueTable == ValueTable::None) throw db::Error(QStringLiteral("Таблица значений не выбрана"));
    return ValueTableName(valueTable);
}

// Deletes what the table holds for the institution and year; the writer's
// rows then take its place.
const QSqlDatabase &cleared(const QSqlDatabase &database, ValueTable valueTable, qint64 institution, int year,
                            qint64 tableIdent) {
    db::exec(database, QStringLiteral("delete from %1 where year=? and \"table\"=? and hospital=?").arg(writtenTable(valueTable)),
             {year, tableIdent, institution});
    return database;
}
} // namespace

void RequireStorableValue(double value, qint64 owner, qint64 tableIdent, int column, int row) {
    if (num::isStorableValue(value)) return;
    QString cell = QStringLiteral("таблица %1").arg(tableIdent);
    int fixrows = 0;
    for (const CachedTable &t : shared().Caches.tables)
        if (t.shape.ident == tableIdent) {
            cell = t.formName + QStringLiteral(" т") + t.tablen;
            fixrows = t.shape.fixrows;
            break;
        }
    const QString why = QStringLiteral("значение ячейки %1 гр%2 стр%3 (код %4) слишком велико: по модулю оно "
                                       "должно быть меньше 1000000000000000")
                            .arg(cell)
                            .arg(cells::refColumnOfStored(column))
                            .arg(cells::refRowOfStored(row, fixrows))
                            .arg(owner);
    throw db::Error(why.left(1).toUpper() + why.mid(1) + QStringLiteral(". Значения не сохранены."), why);
}

ValueRowWriter::ValueRowWriter(const QSqlDatabase &database, ValueTable valueTable, qint64 institution, int year,
                               int rowsPerStatement)
    : m_insert(database, db::TableName::checked(writtenTable(valueTable)), rowsPerStatement),
      m_institution(institution), m_year(year) {}

void ValueRowWriter::flush() { m_insert.flush(); }

QString unstorableValueText(double value, const QString &cell) {
    return QStringLiteral("Значение %1 в ячейке %2 не может быть сохранено: допустимы числа по модулю меньше "
                          "1000000000000000 (15 цифр).")
        .arg(num::general(value), cell);
}

bool ValueRowWriter::write(qint64 institution, qint64 tableIdent, int column, int row, double value) {
    if (value == 0) return false;
    RequireStorableValue(value, institution, tableIdent, column, row);
    m_insert.add(institution, num::stored(value), m_year, tableIdent, column, row);
    return true;
}

TableValueWriter::TableValueWriter(const QSqlDatabase &database, ValueTable valueTable, qint64 institution,
                                   int year, qint64 tableIdent)
    : m_rows(cleared(database, valueTable, institution, year, tableIdent), valueTable, institution, year),
      m_tableIdent(tableIdent) {}

bool TableValueWriter::write(int column, int row, double value) { return m_rows.write(m_tableIdent, column, row, value); }

void WriteCellValue(const QSqlDatabase &d, ValueTable valueTable, qint64 institution, int year, qint64 tableIdent,
                    int column, int row, double typed) {
    if (!num::isStorableValue(typed))
        throw db::Error(unstorableValueText(typed, QStringLiteral("(графа %1, строка %2)").arg(column).arg(row)));
    const double value = num::stored(typed);
    const QVariantList key{year, tableIdent, institution, column, row};
    const QString where = QStringLiteral(" where year=? and \"table\"=? and hospital=? and \"column\"=? and \"row\"=?");
    const QString table = writtenTable(valueTable);
    db::transaction(d, [&] {
        if (value == 0.0) {
            db::exec(d, QStringLiteral("delete from ") + table + where, key);
            return;
        }
        db::updateOrInsert(d, QStringLiteral("update ") + table + QStringLiteral(" set data=?") + where,
                           QVariantList{value} + key,
                           QStringLiteral("insert into %1 (hospital, data, year, \"table\", \"column\", \"row\") "
                                          "values (?, ?, ?, ?, ?, ?)")
                               .arg(table),
                           {institution, value, year, tableIdent, column, row});
    });
}

void ReadInstitutionValues(const QSqlDatabase &database, ValueTable valueTable, qint64 institution, int year,
                           const QString &fields, int columns, const std::function<void(const double *)> &row) {
    db::readInstitutionRows(database, db::TableName::checked(ValueTableName(valueTable)), institution, year, fields,
                            columns, row);
}
