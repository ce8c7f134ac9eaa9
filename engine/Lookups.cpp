#include "engine/Lookups.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <algorithm>

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

// ---- Database lookups -------------------------------------------------------

qint64 GetFormIdByName(const QString &formName) {
    // Form names match without regard to letter case, Cyrillic included.
    const QVariant v = db::scalar(db::connection(db::kMain),
                                  QStringLiteral("select id from forms where "
                                                 "upper(trim(formname))=upper(trim(?)) order by id"),
                                  {formName});
    return (v.isValid() && !v.isNull()) ? v.toLongLong() : -1;
}

qint64 FindFormId(const QString &formName) { return GetFormIdByName(formName); }

