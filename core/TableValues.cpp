#include "core/TableValues.h"

#include "core/NumberFormat.h"
#include "platform/Database.h"

#include <QSqlError>
#include <QVariant>

TableValueWriter::TableValueWriter(const QSqlDatabase &database, const QString &valueTable, qint64 institution,
                                   int year, qint64 tableIdent)
    : m_insert(database), m_institution(institution), m_tableIdent(tableIdent), m_year(year) {
    db::exec(database, QStringLiteral("delete from %1 where year=? and \"table\"=? and hospital=?").arg(valueTable),
             {year, tableIdent, institution});
    if (!m_insert.prepare(QStringLiteral("insert into %1 (hospital, data, year, \"table\", \"column\", \"row\") "
                                         "values (?, ?, ?, ?, ?, ?)")
                              .arg(valueTable)))
        throw db::Error(QStringLiteral("Ошибка записи значений таблицы: %1").arg(m_insert.lastError().text()));
}

bool TableValueWriter::write(int column, int row, double value) {
    const double v = num::stored(value);
    if (v == 0) return false;
    m_insert.bindValue(0, m_institution);
    m_insert.bindValue(1, v);
    m_insert.bindValue(2, m_year);
    m_insert.bindValue(3, m_tableIdent);
    m_insert.bindValue(4, column);
    m_insert.bindValue(5, row);
    if (!m_insert.exec())
        throw db::Error(QStringLiteral("Ошибка записи значений таблицы: %1").arg(m_insert.lastError().text()));
    return true;
}

void WriteCellValue(const QSqlDatabase &d, const QString &valueTable, qint64 institution, int year, qint64 tableIdent,
                    int column, int row, double typed) {
    const double value = num::stored(typed);
    const QVariantList key{year, tableIdent, institution, column, row};
    const QString where = QStringLiteral(" where year=? and \"table\"=? and hospital=? and \"column\"=? and \"row\"=?");
    db::transaction(d, [&] {
        if (value == 0.0) {
            db::exec(d, QStringLiteral("delete from ") + valueTable + where, key);
            return;
        }
        QSqlQuery q = db::exec(d, QStringLiteral("update ") + valueTable + QStringLiteral(" set data=?") + where,
                               QVariantList{value} + key);
        if (q.numRowsAffected() <= 0)
            db::exec(d,
                     QStringLiteral("insert into %1 (hospital, data, year, \"table\", \"column\", \"row\") "
                                    "values (?, ?, ?, ?, ?, ?)")
                         .arg(valueTable),
                     {institution, value, year, tableIdent, column, row});
    });
}
