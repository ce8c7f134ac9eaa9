#include "engine/Common.h"

#include "engine/NumberFormat.h"
#include "engine/ProgressSink.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <array>
#include <cstring>

// ---- Lookups over the caches ------------------------------------------------

namespace {

// The first catalogue line whose beginning equals key (upper case), -1 when none.
int findCatalogueLine(const QString &key) {
    const StringList &tables = shared().TablesList;
    const QString k = text::upper(key);
    for (int i = 0; i < tables.count(); ++i) {
        const QString &line = tables.text(i);
        if (line.size() >= k.size() && text::upper(line.left(k.size())) == k) return i;
    }
    return -1;
}

bool fillGeometry(int line, TableGeometry &g) {
    g.colCountPlus1 = 0;
    if (line < 0 || line >= shared().TablesArray.size()) return false;
    const auto &a = shared().TablesArray[line];
    g.colCountPlus1 = a[2] + 1;
    g.rowCountPlus1 = a[3] + 1;
    g.fixCols = a[4];
    g.fixRows = a[5];
    return true;
}

QString catalogueKey(const QString &formName, const QString &tableKey) {
    return formName + QStringLiteral("*Т") + tableKey;
}

} // namespace

bool GetTableGeometry(const QString &formName, const QString &tableKey, TableGeometry &geometry) {
    return fillGeometry(findCatalogueLine(catalogueKey(formName, tableKey)), geometry);
}

bool GetTableGeometryByFormId(qint64 formId, const QString &tableKey, TableGeometry &geometry) {
    geometry.colCountPlus1 = 0;
    if (formId == -1) return false;
    const QString name = GetFormNameById(formId);
    if (name.isEmpty()) return false;
    return fillGeometry(findCatalogueLine(catalogueKey(name, tableKey)), geometry);
}

qint64 GetTableIdent(const QString &formName, const QString &tableKey) {
    const int line = findCatalogueLine(catalogueKey(formName, tableKey));
    if (line < 0 || line >= shared().TablesArray.size()) return -1;
    return shared().TablesArray[line][1];
}

qint64 GetTableIdentByFormId(qint64 formId, const QString &tableKey) {
    const QString name = GetFormNameById(formId);
    if (name.isEmpty()) return -1;
    return GetTableIdent(name, tableKey);
}

qint64 GetTableIdentByFormId(const QString &formIdText, const QString &tableKey) {
    bool ok = false;
    const qint64 id = formIdText.trimmed().toLongLong(&ok);
    if (!ok)
        throw ConversionError(QStringLiteral("\"%1\" не является целым числом").arg(formIdText));
    return GetTableIdentByFormId(id, tableKey);
}

int IndexOfTableIdent(qint64 ident) {
    const auto &a = shared().TablesArray;
    for (int i = 0; i < a.size(); ++i)
        if (a[i][1] == ident) return i;
    return -1;
}

QString GetFormNameById(qint64 formId) {
    const StringList &forms = shared().FormsList;
    for (int i = 0; i < forms.count(); ++i) {
        if (forms.object(i) != formId) continue;
        const QString &line = forms.text(i);
        const int p = line.indexOf(QStringLiteral(" - "));
        if (p < 0) return {};
        return text::upper(line.left(p));
    }
    return {};
}

// ---- Database lookups and services ------------------------------------------

qint64 GetFormIdByName(const QString &formName) {
    // Form names match without regard to letter case, Cyrillic included.
    const QVariant v = db::scalar(db::connection(db::kMain),
                                  QStringLiteral("select id from forms where upper(formname)=upper(?) order by id"),
                                  {formName});
    return (v.isValid() && !v.isNull()) ? v.toLongLong() : -1;
}

qint64 FindFormId(const QString &formName) { return GetFormIdByName(formName); }

QString ValueTableName() {
    const QString name = shared().DataTableName.trimmed().toLower();
    if (name.isEmpty() || name == QLatin1String("data")) return QStringLiteral("data");
    if (name == QLatin1String("repdata")) return QStringLiteral("repdata");
    throw db::Error(QStringLiteral("Неизвестная таблица значений: %1").arg(shared().DataTableName));
}

void SaveTableData(qint64 institution, qint64 formId, const QString &tableKey) {
    const qint64 ident = GetTableIdentByFormId(formId, tableKey);
    if (ident < 0)
        throw db::Error(QStringLiteral("Таблица %1 формы %2 не найдена: значения не сохранены")
                            .arg(tableKey, GetFormNameById(formId)));
    const int year = shared().Year;
    const QString table = ValueTableName();
    const ValueMatrix &m = shared().DataMatrix;
    QSqlDatabase d = db::connection(db::kData);
    db::transaction(d, [&] {
        db::exec(d, QStringLiteral("delete from %1 where year=? and \"table\"=? and hospital=?").arg(table),
                 {year, ident, institution});
        if (!m.isCreated()) return;
        QSqlQuery q(d);
        q.prepare(QStringLiteral("insert into %1 (hospital, data, year, \"table\", \"column\", \"row\") "
                                 "values (?, ?, ?, ?, ?, ?)").arg(table));
        for (int c = m.lowColumn(); c <= m.highColumn(); ++c) {
            for (int r = m.lowRow(); r <= m.highRow(); ++r) {
                const double v = num::stored(m.at(c, r));
                if (v == 0) continue;
                q.bindValue(0, institution);
                q.bindValue(1, v);
                q.bindValue(2, year);
                q.bindValue(3, ident);
                q.bindValue(4, c);
                q.bindValue(5, r);
                if (!q.exec())
                    throw db::Error(QStringLiteral("Ошибка записи значений таблицы: %1").arg(q.lastError().text()));
            }
        }
    });
}

void SumHospitalsData(qint64 formId, const QString &tableKey, ProgressSink *progress) {
    const qint64 ident = GetTableIdentByFormId(formId, tableKey);
    const QList<qint64> ids = text::parseIdList(shared().IncludeList);
    ProgressSink &p = progress ? *progress : noProgress();
    if (ids.isEmpty()) {
        p.setMax(0);
        p.setPosition(0);
        return;
    }
    QSqlQuery q = db::exec(db::kData,
                           QStringLiteral("select \"column\", \"row\", data from data where year=? and \"table\"=? "
                                          "and hospital in (%1)").arg(db::inList(ids)),
                           {shared().Year, ident});
    QList<std::array<double, 3>> rows;
    while (q.next()) rows.append({q.value(0).toDouble(), q.value(1).toDouble(), q.value(2).toDouble()});
    p.setMax(int(rows.size()));
    p.setPosition(0);
    ValueMatrix &m = shared().DataMatrix;
    int done = 0;
    for (const auto &r : rows) {
        m.add(int(r[0]), int(r[1]), r[2]);
        p.setPosition(++done);
    }
}

quint32 ChecksumStep(quint32 hash, double value) {
    const float f = float(value);
    quint32 bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return hash ^ (hash << 5) ^ bits;
}

namespace {

// Steps the hash over the stored values of one table; returns how many there were.
int hashTable(quint32 &hash, qint64 institution, qint64 ident) {
    QSqlQuery q = db::exec(db::kData,
                           QStringLiteral("select data from %1 where hospital=? and \"table\"=? and year=? "
                                          "order by \"row\", \"column\"").arg(ValueTableName()),
                           {institution, ident, shared().Year});
    int n = 0;
    while (q.next()) {
        hash = ChecksumStep(hash, q.value(0).toDouble());
        ++n;
    }
    return n;
}

} // namespace

quint32 TableDataChecksum(qint64 institution, qint64 tableIdent) {
    quint32 h = 5381;
    return hashTable(h, institution, tableIdent) == 0 ? 0 : h;
}

quint32 FormDataChecksum(qint64 institution, qint64 formId) {
    const QVariantList idents = db::column(db::connection(db::kMain),
                                           QStringLiteral("select ident from tables where form=? order by ident"),
                                           {formId});
    quint32 h = 5381;
    for (const QVariant &ident : idents) hashTable(h, institution, ident.toLongLong());
    return h;
}

// ---- Text helpers -------------------------------------------------------------

int PosFrom(const QString &sub, const QString &text, int start) {
    if (start > text.size()) return start;
    const int from = start < 1 ? 0 : start - 1;
    const int p = text.indexOf(sub, from);
    return p < 0 ? int(text.size()) + 1 : p + 1;
}

int PosBackFrom(const QString &text, int index, const QString &sub) {
    const int last = index - int(sub.size());   // latest 1-based start allowed
    if (last < 1 || sub.isEmpty()) return 0;
    const int p = text.lastIndexOf(sub, last - 1);
    return p < 0 ? 0 : p + 1;
}

bool IsDigitsText(const QString &text) {
    for (QChar ch : text)
        if (!(ch >= u'0' && ch <= u'9') && ch != u'.') return false;
    return true;
}

bool IsDecimalText(const QString &text) { return !text.isEmpty() && IsDigitsText(text); }

QString ShiftNumberList(const QString &list, int offset) {
    if (list.isEmpty()) return {};
    QStringList out;
    for (const QString &item : list.split(u',')) {
        bool ok = false;
        const int v = item.trimmed().toInt(&ok);
        if (!ok) throw ConversionError(QStringLiteral("\"%1\" не является целым числом").arg(item));
        out.append(QString::number(v + offset));
    }
    return out.join(u',');
}

QString ReplaceChar(const QString &text, QChar what, QChar with) {
    QString r = text;
    r.replace(what, with);
    return r;
}

QString RemoveChar(const QString &text, QChar what) {
    QString r = text;
    r.remove(what);
    return r;
}

int IndexOfObjectValue(qint64 value, const StringList &list) { return list.indexOfObject(value); }
