#include "engine/Common.h"
#include "engine/TableShape.h"
#include "engine/NumberFormat.h"
#include "engine/ProgressSink.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "engine/TableValues.h"
#include "platform/Database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <array>
#include <cstring>

// ---- Lookups over the caches ------------------------------------------------

const CachedTable *FindCachedTable(const QString &formName, const QString &tableKey) {
    const QString form = text::upper(formName);
    for (const CachedTable &t : shared().Caches.tables)
        if (t.is(form, tableKey)) return &t;
    return nullptr;
}

qint64 GetTableIdent(const QString &formName, const QString &tableKey) {
    const CachedTable *t = FindCachedTable(formName, tableKey);
    return t ? t->shape.ident : -1;
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

QString GetFormNameById(qint64 formId) {
    const CachedForm *f = shared().Caches.form(formId);
    return f ? f->name : QString();
}

// ---- Database lookups and services ------------------------------------------

qint64 GetFormIdByName(const QString &formName) {
    // Form names match without regard to letter case, Cyrillic included.
    const QVariant v = db::scalar(db::connection(db::kMain),
                                  QStringLiteral("select id from forms where "
                                                 "upper(trim(formname))=upper(trim(?)) order by id"),
                                  {formName});
    return (v.isValid() && !v.isNull()) ? v.toLongLong() : -1;
}

qint64 FindFormId(const QString &formName) { return GetFormIdByName(formName); }


QString ValueTableName(ValueTable dataTableName) {
    return valueTableSql(dataTableName == ValueTable::None ? ValueTable::Data : dataTableName);
}

void SaveTableData(const ValueMatrix &m, const QString &table, qint64 institution, qint64 formId,
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
            for (int r = m.lowRow(); r <= m.highRow(); ++r) {
                const double v = m.at(c, r);
                if (v != 0) RequireStorableValue(v, institution, ident, c, r);
                writer.write(c, r, v);
            }
    });
}

void SumHospitalsData(ValueMatrix &m, const QString &includeList, qint64 formId, const QString &tableKey,
                      ProgressPacer *pacer, MemberKind kind, qint64 self) {
    const SummaryMembers members = RequireMembers(kind, includeList, self);
    const qint64 ident = GetTableIdentByFormId(formId, tableKey);
    // Rows go straight into the matrix; the gauge moves by time, not by row.
    db::readNumbers(db::connection(db::kData),
                    QStringLiteral("select \"column\", \"row\", data from %1 where year=? and \"table\"=? "
                                   "and hospital in (%2)").arg(members.valueTable(), db::inList(members.ids)),
                    {shared().Year, ident}, 3, [&](const double *f) {
                        m.add(int(f[0]), int(f[1]), f[2]);
                        if (pacer) pacer->tick();
                    });
}

quint32 ChecksumStep(quint32 hash, double value) {
    const float f = float(value);
    quint32 bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return hash ^ (hash << 5) ^ bits;
}

namespace {

// Steps the hash over the stored values of one table; returns how many there were.
int hashTable(quint32 &hash, ValueTable table, qint64 institution, qint64 ident) {
    QSqlQuery q = db::exec(db::kData,
                           QStringLiteral("select data from %1 where hospital=? and \"table\"=? and year=? "
                                          "order by \"row\", \"column\"").arg(ValueTableName(table)),
                           {institution, ident, shared().Year});
    int n = 0;
    while (q.next()) {
        hash = ChecksumStep(hash, q.value(0).toDouble());
        ++n;
    }
    return n;
}

} // namespace

quint32 TableDataChecksum(ValueTable table, qint64 institution, qint64 tableIdent) {
    quint32 h = 5381;
    return hashTable(h, table, institution, tableIdent) == 0 ? 0 : h;
}

quint32 FormDataChecksum(ValueTable table, qint64 institution, qint64 formId) {
    const QVariantList idents = db::column(db::connection(db::kMain),
                                           QStringLiteral("select ident from tables where form=? order by ident"),
                                           {formId});
    quint32 h = 5381;
    for (const QVariant &ident : idents) hashTable(h, table, institution, ident.toLongLong());
    return h;
}

// ---- Text helpers -------------------------------------------------------------

qsizetype PosFrom(const QString &sub, const QString &text, qsizetype start) {
    if (start > text.size()) return start;
    if (sub.isEmpty()) return text.size() + 1;
    const qsizetype at = text.indexOf(sub, std::max<qsizetype>(start, 1) - 1);
    return at < 0 ? text.size() + 1 : at + 1;
}

qsizetype PosBackFrom(const QString &text, qsizetype index, const QString &sub) {
    const qsizetype from = index - sub.size();
    if (sub.isEmpty() || from < 1 || text.isEmpty()) return 0;
    const qsizetype at = text.lastIndexOf(sub, std::min(from, text.size()) - 1);
    return at < 0 ? 0 : at + 1;
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

QStringList SplitFormNameList(const QString &list) {
    const QString upper = text::upper(list);
    QStringList known;   // catalogue names holding a comma, longest first
    for (const CachedForm &f : shared().Caches.forms)
        if (f.name.contains(QLatin1Char(','))) known.append(f.name);
    std::sort(known.begin(), known.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
    QStringList out;
    qsizetype at = 0;
    while (at <= upper.size()) {
        qsizetype end = -1;
        for (const QString &k : known) {
            const qsizetype after = at + k.size();
            if (QStringView(upper).mid(at, k.size()) == k && (after == upper.size() || upper.at(after) == u',')) {
                end = after;
                break;
            }
        }
        if (end < 0) {
            end = upper.indexOf(QLatin1Char(','), at);
            if (end < 0) end = upper.size();
        }
        const QString name = upper.mid(at, end - at).trimmed();
        if (!name.isEmpty()) out.append(name);
        at = end + 1;
    }
    return out;
}
