#include "reports/DbfExportLogic.h"
#include "engine/CellNumbering.h"

#include "engine/LinksDb.h"
#include "engine/NumberFormat.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QDir>
#include <QFileInfo>
#include <array>

namespace dbfexport {

namespace {

constexpr int kMaxColumn = 100;

QString n(qint64 v) { return QString::number(v); }

// Key fields of one record: a1, a2, a4, a5, a6.
struct Keys {
    QString a1, a2, a4, a5, a6;
    QStringList list() const { return {a1, a2, a4, a5, a6}; }
};

class Exporter {
public:
    Exporter(const Request &r, dbf::Writer &w, int year)
        : m_req(r), m_writer(w), m_year(year),
          m_valueTable(r.summaryReports ? ValueTable::RepData : ValueTable::Data) {}

    void exportSection(const Catalogue &cat, const Section &section) {
        const QString code = SectionCode(section.item, section.r3);
        QSqlQuery t = db::exec(m_req.links,
                               QStringLiteral("select msk, orv, inv from tables where %1 order by msk")
                                   .arg(links::prefixCondition(QStringLiteral("msk"))),
                               links::prefixParams(code));
        while (t.next()) {
            const QString msk = t.value(0).toString();
            const QString orv = t.value(1).toString();
            const bool inv = db::storedYes(t.value(2));
            const int index = IndexOfText(cat.keys, orv);
            if (index < 0) continue;
            if (orv == kSpecialTable) {
                ExportForm30Table2108(cat.idents[index], section);
                continue;
            }
            exportTable(msk, inv, cat.idents[index], cat.fixrows[index], section);
        }
    }

    int written = 0;
    QStringList misfits;

private:
    void exportTable(const QString &msk, bool inv, qint64 ident, int fixrows, const Section &section) {
        std::array<int, kMaxColumn + 1> slot{};
        QList<qint64> columnList;
        QSqlQuery c = db::exec(m_req.links,
                               QStringLiteral("select mskcol, orvcol from cols where %1")
                                   .arg(links::prefixCondition(QStringLiteral("mskcol"))),
                               links::prefixParams(msk));
        while (c.next()) {
            const int col = c.value(1).toInt();
            if (col < 1 || col > kMaxColumn) continue;
            columnList.append(inv ? cells::storedRowOfRef(col, fixrows) : cells::storedColumnOfRef(col));
            slot[col] = SafeCopy(c.value(0).toString(), 10, 2).toInt();   // 0 when not a number
        }
        if (columnList.isEmpty()) return;

        QSqlQuery r = db::exec(m_req.links,
                               QStringLiteral("select mskrow, orvrow from \"rows\" where %1 order by mskrow")
                                   .arg(links::prefixCondition(QStringLiteral("mskrow"))),
                               links::prefixParams(msk));
        while (r.next()) {
            const QString mskrow = r.value(0).toString();
            const int orvrow = r.value(1).toInt();
            QList<double> values(kValueSlots, 0.0);
            QString sql = QStringLiteral("select \"row\", \"column\", data from %1 where year=? and hospital=? "
                                         "and \"table\"=? ").arg(ValueTableName(m_valueTable));
            if (inv)
                sql += QStringLiteral("and \"column\"=%1 and \"row\" in (%2)")
                           .arg(n(cells::storedColumnOfRef(orvrow)), db::inList(columnList));
            else
                sql += QStringLiteral("and \"row\"=%1 and \"column\" in (%2)")
                           .arg(n(cells::storedRowOfRef(orvrow, fixrows)), db::inList(columnList));
            try {
                QSqlQuery v = db::exec(m_req.dataDb, sql, {m_year, m_req.id, ident});
                while (v.next()) {
                    const int p = inv ? cells::refRowOfStored(v.value(0).toInt(), fixrows)
                                      : cells::refColumnOfStored(v.value(1).toInt());
                    if (p < 1 || p > kMaxColumn) continue;
                    const int s = slot[p];
                    if (s >= 1 && s <= kValueSlots) values[s - 1] = v.value(2).toDouble();
                }
            } catch (const db::Error &) {
                // An unreadable value query leaves the values read so far.
            }
            // The layout declares a4 CHAR(5) and a5 CHAR(4): the external form
            // code and the external table code of the row code.
            const Keys k{m_yearCode(), TerritoryCode(m_req.territoryItem), PadField(mskrow, 1, 5, QStringLiteral("0")),
                         PadField(mskrow, 6, 4, QStringLiteral("0")), SafeCopy(mskrow, 10, 3)};
            InsertDbfRow(k, values, section);
        }
    }

    // The table "Ф30(3.2108)" becomes one single record.
    void ExportForm30Table2108(qint64 ident, const Section &section) {
        QList<double> values(kValueSlots, 0.0);
        try {
            QSqlQuery v = db::exec(m_req.dataDb,
                                   QStringLiteral("select \"row\", \"column\", data from %1 where year=? and hospital=? "
                                                  "and \"table\"=?").arg(ValueTableName(m_valueTable)),
                                   {m_year, m_req.id, ident});
            while (v.next()) {
                const int s = (v.value(0).toInt() - 5) * 4 + v.value(1).toInt() - 3;
                if (s >= 1 && s <= kValueSlots) values[s - 1] = v.value(2).toDouble();
            }
        } catch (const db::Error &) {
        }
        const Keys k{m_yearCode(), TerritoryCode(m_req.territoryItem), PadField(section.item, 1, 5, QStringLiteral("0")),
                     QStringLiteral("2108"), QStringLiteral("001")};
        InsertDbfRow(k, values, section);
    }

    // Writes one record. A value too big for its field is left blank and
    // listed; the run goes on. A failed write ends the run (dbf::Error).
    void InsertDbfRow(const Keys &k, const QList<double> &values, const Section &section) {
        QVariantList record;
        for (const QString &s : k.list()) record.append(s);
        for (int i = 0; i < values.size(); ++i) {
            const dbf::Field &field = m_fields[5 + i];
            if (dbf::fits(field, values[i])) {
                record.append(values[i]);
                continue;
            }
            record.append(QVariant());
            misfits.append(QStringLiteral("%1 (%2), поле %3: %4")
                               .arg(k.list().join(u' '), section.item, field.name, num::fixed2(values[i])));
        }
        m_writer.append(record);
        ++written;
    }

    QString m_yearCode() const { return YearCode(m_req.yearText); }

    const Request &m_req;
    dbf::Writer &m_writer;
    const QList<dbf::Field> m_fields = ExportFields();
    int m_year;
    ValueTable m_valueTable;
};

// Starts the new table; an older table of the same name stays until the
// run commits.
void CreateDbfTable(dbf::Writer &writer, const QString &tableName) {
    try {
        writer.open();
    } catch (const dbf::Error &e) {
        throw dbf::Error(QStringLiteral("Ошибка при создании DBF таблицы:\n%1\nТаблица: %2").arg(e.message(), tableName));
    }
}

} // namespace

int IndexOfText(const QStringList &list, const QString &text) {
    const QString key = text.toUpper();
    for (int i = int(list.size()) - 1; i >= 0; --i)
        if (list[i].toUpper() == key) return i;
    return -1;
}

QString SafeCopy(const QString &text, int start, int count) {
    if (count <= 0 || start > text.size()) return {};
    if (start < 1) {
        count -= 1 - start;
        start = 1;
        if (count <= 0) return {};
    }
    return text.mid(start - 1, count);
}

QString PadField(const QString &text, int start, int count, const QString &pad) {
    QString s = SafeCopy(text, start, count);
    if (count <= 0) return {};
    if (!pad.isEmpty())
        while (s.size() < count) s += pad;
    return s.left(count);
}

QString YearCode(const QString &yearText) {
    QString s;
    if (yearText.size() >= 4)
        s = yearText.mid(2, 2);
    else if (yearText.size() >= 2)
        s = yearText.right(2);
    else
        s = QStringLiteral("00");
    return s.rightJustified(2, u'0');
}

QString TerritoryCode(const QString &item) {
    // Only the code part of "a1 - a2" counts: a short code must not lend the
    // separator or the name to the code.
    const int sep = int(item.indexOf(QLatin1String(" - ")));
    const QString code = sep >= 0 ? item.left(sep) : item;
    if (code.size() < 6) return QStringLiteral("0000");
    return code.mid(2, 4).leftJustified(4, u'0', true);
}

QString SanitizeDbfTableName(const QString &fileName) {
    const int dot = int(fileName.lastIndexOf(u'.'));
    QString name = dot >= 0 ? fileName.left(dot) : fileName;
    const QString ext = dot >= 0 ? fileName.mid(dot) : QString();
    static const QString removed = QStringLiteral("«»<>:\"/\\|?*");
    QString clean;
    for (const QChar c : name)
        if (!removed.contains(c)) clean += c;
    if (clean.isEmpty()) clean = QStringLiteral("Table");
    if (clean.size() >= 256) clean.truncate(255);
    return clean + ext;
}

QString WithDbfExtension(const QString &fileName) {
    if (QFileInfo(fileName).fileName().endsWith(QLatin1String(".dbf"), Qt::CaseSensitive)) return fileName;
    return fileName + QStringLiteral(".dbf");
}

QString SectionCode(const QString &item, bool r3) {
    return r3 ? SafeCopy(item, 1, 5) : SafeCopy(item, 1, 4) + QStringLiteral("0");
}

QList<dbf::Field> ExportFields() {
    QList<dbf::Field> f{dbf::charField(QStringLiteral("a1"), 2), dbf::charField(QStringLiteral("a2"), 4),
                        dbf::charField(QStringLiteral("a4"), 5), dbf::charField(QStringLiteral("a5"), 4),
                        dbf::charField(QStringLiteral("a6"), 3)};
    for (int i = 1; i <= kValueSlots; ++i) f.append(dbf::numericField(QStringLiteral("a8") + n(i), 15, 2));
    return f;
}

QList<Section> ReadSections(const QSqlDatabase &links) {
    QList<Section> out;
    QSqlQuery q = db::exec(links, QStringLiteral("select a1, a2, r3 from raz order by a1"));
    while (q.next())
        out.append({q.value(0).toString().rightJustified(5, u'0') + QStringLiteral(" - ") + q.value(1).toString(),
                    db::storedYes(q.value(2)), true});
    return out;
}

QStringList ReadTerritories(const QSqlDatabase &links) {
    QStringList out;
    QSqlQuery q = db::exec(links, QStringLiteral("select a1, a2 from kodif order by rowid"));
    while (q.next()) out.append(q.value(0).toString() + QStringLiteral(" - ") + q.value(1).toString());
    return out;
}

QList<Choice> ReadReports(const QSqlDatabase &mainDb) {
    QList<Choice> out;
    QSqlQuery q = db::exec(mainDb, QStringLiteral("select report, id from reports order by ind"));
    while (q.next()) out.append({q.value(0).toString(), q.value(1).toLongLong()});
    return out;
}

QList<Choice> ReadInstitutions(const QSqlDatabase &mainDb) {
    QList<Choice> out;
    QSqlQuery q = db::exec(mainDb, QStringLiteral("select unit, id from administration a where "
                                                  "(select count(*) from administration b where a.id=b.dependence)=0"));
    while (q.next()) out.append({q.value(0).toString(), q.value(1).toLongLong()});
    return out;
}

Catalogue ReadCatalogue(const QSqlDatabase &mainDb) {
    Catalogue c;
    QSqlQuery q = db::exec(mainDb, QStringLiteral("select ident, tablen, (select formname from forms where "
                                                  "forms.id=tables.form) as fn, fixrows from tables"));
    while (q.next()) {
        c.keys.append(q.value(2).toString() + q.value(1).toString());
        c.idents.append(q.value(0).toLongLong());
        c.fixrows.append(q.value(3).toInt());
    }
    return c;
}

QString ResultMessage(const Result &r) {
    if (r.misfits.isEmpty()) return QStringLiteral("Выгрузка завершена успешно!\nФайл: %1").arg(r.file);
    constexpr int kShown = 30;   // the rest is counted, so the message stays readable
    QStringList lines = r.misfits.mid(0, kShown);
    if (r.misfits.size() > kShown) lines.append(QStringLiteral("… и ещё %1").arg(r.misfits.size() - kShown));
    return QStringLiteral("Выгрузка выполнена не полностью!\n"
                          "Значения, не помещающиеся в поле DBF (15 знаков, 2 после точки), не выгружены: "
                          "их поля в файле пусты (%1):\n%2\nФайл: %3")
        .arg(r.misfits.size())
        .arg(lines.join(u'\n'), r.file);
}

Result Run(const Request &r) {
    if (r.territoryItem.isEmpty()) throw dbf::Error(QStringLiteral("Ошибка: не выбрана территория в ComboBox3!"));
    if (r.id == 0) throw dbf::Error(QStringLiteral("Ошибка: не выбран отчет/ЛПУ в ComboBox2!"));

    const QFileInfo folder(r.folder);
    if (!folder.isDir() || !folder.isWritable())
        throw dbf::Error(QStringLiteral("Ошибка при подключении к базе данных для работы с DBF файлом:\n"
                                        "Папка недоступна для записи: %1").arg(QDir::toNativeSeparators(r.folder)));

    Result result;
    result.file = QDir(r.folder).filePath(r.tableName);
    dbf::Writer writer(result.file, ExportFields());
    CreateDbfTable(writer, r.tableName);

    bool yearOk = false;
    const int year = r.yearText.trimmed().toInt(&yearOk);
    if (!yearOk || year == 0)
        throw dbf::Error(QStringLiteral("Ошибка: не удалось определить год из Main.Label2.Caption!"));

    const Catalogue cat = ReadCatalogue(r.mainDb);
    Exporter ex(r, writer, year);
    for (int i = 0; i < r.sections.size(); ++i) {
        if (!r.sections[i].checked) continue;
        if (r.progress) r.progress(i + 1, int(r.sections.size()));
        ex.exportSection(cat, r.sections[i]);
    }
    writer.commit();
    result.records = ex.written;
    result.misfits = ex.misfits;
    return result;
}

} // namespace dbfexport
