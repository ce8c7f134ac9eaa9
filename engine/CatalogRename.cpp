#include "engine/CatalogRename.h"

#include "engine/CatalogGate.h"
#include "engine/EngineError.h"
#include "engine/Notation.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlQuery>

#include <filesystem>
#include <functional>

namespace carry {

namespace {

// The longest catalogue name that the upper-cased text ends with at `end`.
QString formEndingAt(const QString &upper, qsizetype end, const QStringList &formNames) {
    QString best;
    for (const QString &f : formNames) {
        const QString u = text::upper(f.trimmed());
        if (u.isEmpty() || u.size() <= best.size() || u.size() > end) continue;
        if (QStringView(upper).mid(end - u.size(), u.size()) == u) best = f.trimmed();
    }
    return best;
}

// Where the form's name before a table mark ends: the notation allows
// blanks between them ("Ф30 Т[1000]").
qsizetype formEnd(const QString &upper, qsizetype mark) {
    while (mark > 0 && upper.at(mark - 1).isSpace()) --mark;
    return mark;
}

// Whether a text changed at all, letter case included: a number changed only
// in letter case is still carried (print files go by the exact name).
bool sameBytes(const QString &a, const QString &b) { return a.compare(b, Qt::CaseSensitive) == 0; }

QStringList formNames(const QSqlDatabase &db) {
    QStringList out;
    for (const QVariant &v : db::column(db, QStringLiteral("select formname from forms"))) out << v.toString();
    return out;
}

QHash<qint64, QString> namesById(const QSqlDatabase &db) {
    QHash<qint64, QString> out;
    QSqlQuery q = db::exec(db, QStringLiteral("select id, formname from forms"));
    while (q.next()) out.insert(q.value(0).toLongLong(), q.value(1).toString());
    return out;
}

// Rewrites the text columns of every row of a table through `rewrite`
// (given the row's own form); returns a label per changed row.
struct TextTable {
    QString table, key, formSql;   // formSql: the row's own form id, as an expression
    QStringList columns;
    std::function<QString(const QSqlQuery &)> label;
};

Changed rewriteRows(const QSqlDatabase &db, const TextTable &t, const QHash<qint64, QString> &forms,
                    const std::function<QString(const QString &, const QString &)> &rewrite) {
    Changed changed;
    if (!db::tableExists(db, t.table)) return changed;
    QStringList quoted;
    for (const QString &c : t.columns) quoted << QLatin1Char('"') + c + QLatin1Char('"');
    QSqlQuery q = db::exec(db, QStringLiteral("select %1, %2, %3 from %4")
                                   .arg(t.key, t.formSql, quoted.join(QStringLiteral(", ")), t.table));
    struct Update { QVariant key; QVariantList values; QString label; };
    QList<Update> updates;
    while (q.next()) {
        const QString own = forms.value(q.value(1).toLongLong());
        QVariantList values;
        bool any = false;
        for (int i = 0; i < t.columns.size(); ++i) {
            const QVariant v = q.value(2 + i);
            if (v.isNull()) {
                values << v;
                continue;
            }
            const QString after = rewrite(v.toString(), own);
            any = any || after != v.toString();
            values << after;
        }
        if (any) updates.append({q.value(0), values, t.label(q)});
    }
    QStringList sets;
    for (const QString &c : quoted) sets << c + QStringLiteral("=?");
    for (const Update &u : updates) {
        QVariantList params = u.values;
        params << u.key;
        const QSqlQuery w = db::exec(
            db, QStringLiteral("update %1 set %2 where %3=?").arg(t.table, sets.join(QStringLiteral(", ")), t.key), params);
        // A row deleted since it was read is not named as changed.
        if (w.numRowsAffected() > 0 && !changed.contains(u.label)) changed << u.label;
    }
    return changed;
}

TextTable rulesTable() {
    return {QStringLiteral("int_control"), QStringLiteral("\"Код\""), QStringLiteral("formid"),
            {QStringLiteral("lft"), QStringLiteral("rght"), QStringLiteral("cycl")},
            [](const QSqlQuery &q) { return QStringLiteral("контроль ") + q.value(0).toString(); }};
}

TextTable cellsTable() {
    return {QStringLiteral("conditions"), QStringLiteral("rowid"),
            QStringLiteral("(select form from tables where ident=conditions.tid)"),
            {QStringLiteral("formula"), QStringLiteral("condition"), QStringLiteral("lft"), QStringLiteral("rght")},
            [](const QSqlQuery &) { return QStringLiteral("расчетные ячейки"); }};
}

TextTable indicatorTable() {
    return {QStringLiteral("formulas"), QStringLiteral("rowid"), QStringLiteral("0"), {QStringLiteral("formula")},
            [](const QSqlQuery &) { return QStringLiteral("показатели"); }};
}

void fail(const QString &what, const QString &path, const QString &why) {
    throw EngineError(QStringLiteral("Не удалось %1 файл %2: %3. Ничего не изменено.")
                          .arg(what, QDir::toNativeSeparators(path), why));
}

} // namespace

QString changedMessage(const QString &head, const Changed &changed) {
    if (changed.isEmpty()) return head;
    return head + QStringLiteral("\r\nИзменены ссылки: ") + changed.join(QStringLiteral(", ")) + QLatin1Char('.');
}

QString carryTableNumber(const QString &text, const QString &formName, const QString &oldTablen,
                         const QString &newTablen, const QString &ownForm, bool chained,
                         const QStringList &formNames) {
    const QString upper = text::upper(text);
    const QString newInner = newTablen.trimmed().mid(1, newTablen.trimmed().size() - 2);
    QString out;
    qsizetype done = 0;
    QString current = ownForm;
    for (const notation::TableKey &key : notation::FindTableKeys(upper)) {
        const qsizetype p = key.at, close = key.close;
        if (p < done) continue;
        if (close < 0) break;
        const QString named = formEndingAt(upper, formEnd(upper, p), formNames);
        const QString form = named.isEmpty() ? current : named;
        if (chained && !named.isEmpty()) current = named;
        const QString inner = text.mid(p + 2, close - p - 2);
        if (!text::sameName(form, formName) ||
            !text::sameName(QLatin1Char('(') + inner.trimmed() + QLatin1Char(')'), oldTablen))
            continue;
        out += text.mid(done, p + 2 - done) + newInner;
        done = close;
    }
    return out + text.mid(done);
}

QString carryFormName(const QString &text, const QString &oldName, const QString &newName,
                      const QStringList &formNames) {
    const QString upper = text::upper(text);
    const QString oldUpper = text::upper(oldName.trimmed());
    QString out;
    qsizetype done = 0;
    for (const notation::TableKey &key : notation::FindTableKeys(upper)) {
        const qsizetype p = key.at;
        if (p < done) continue;
        // Only the whole name of the old form ends here, not a longer name ending alike.
        const qsizetype end = formEnd(upper, p);
        if (!text::sameName(formEndingAt(upper, end, formNames), oldName)) continue;
        const qsizetype at = end - oldUpper.size();
        out += text.mid(done, at - done) + newName.trimmed();
        done = end;
    }
    return out + text.mid(done);
}

Changed renameTable(const QSqlDatabase &db, qint64 ident, const QString &tablen, const QString &name,
                    bool floattype, int scan, const QString &formsFolder) {
    Changed changed;
    db::transaction(db, [&] {
        QSqlQuery own = db::exec(db, QStringLiteral("select t.tablen, t.form, f.formname from tables t "
                                                    "left join forms f on f.id=t.form where t.ident=?"),
                                 {ident});
        const bool found = own.next();
        const QString oldTablen = found ? own.value(0).toString() : QString();
        const qint64 formId = found ? own.value(1).toLongLong() : 0;
        const QString formName = found ? own.value(2).toString() : QString();
        gate::updateTable(db, ident, tablen, name, floattype, scan);
        const QString newTablen = tablen.trimmed();
        if (!found || sameBytes(oldTablen.trimmed(), newTablen)) return;
        const QStringList names = formNames(db);
        const QHash<qint64, QString> forms = namesById(db);
        // The rules of the table itself name it by their own column.
        if (db::tableExists(db, QStringLiteral("int_control"))) {
            QSqlQuery r = db::exec(db, QStringLiteral("select \"Код\", tble from int_control where formid=?"), {formId});
            QList<qint64> keys;
            while (r.next()) {
                const QString stored = r.value(1).toString();
                if (!stored.trimmed().isEmpty() && text::sameName(stored, oldTablen) && !sameBytes(stored, newTablen))
                    keys << r.value(0).toLongLong();
            }
            for (qint64 key : keys) {
                const QSqlQuery w = db::exec(db, QStringLiteral("update int_control set tble=? where \"Код\"=?"),
                                             {text::entry(newTablen, text::Field::OneLine), key});
                if (w.numRowsAffected() > 0) changed << QStringLiteral("контроль ") + QString::number(key);
            }
        }
        const auto rewrite = [&](bool chained) {
            return [&, chained](const QString &s, const QString &ownForm) {
                return carryTableNumber(s, formName, oldTablen, newTablen, ownForm, chained, names);
            };
        };
        for (const QString &c : rewriteRows(db, rulesTable(), forms, rewrite(false)))
            if (!changed.contains(c)) changed << c;
        for (const QString &c : rewriteRows(db, cellsTable(), forms, rewrite(true)) +
                                    rewriteRows(db, indicatorTable(), forms, rewrite(false)))
            if (!changed.contains(c)) changed << c;
        // The print mapping names the table as "[(1000)]": one character on either side.
        const QString mapping = formsFolder.isEmpty() ? QString() : formsFolder + formName + QStringLiteral(".txt");
        if (!mapping.isEmpty() && QFileInfo::exists(mapping)) {
            QStringList lines;
            QString why;
            if (!cp1251::readLines(mapping, lines, &why)) fail(QStringLiteral("прочитать"), mapping, why);
            bool any = false;
            for (QString &line : lines) {
                QStringList f = line.split(QLatin1Char(','));
                if (f.size() < 4 || f[3].size() < 2) continue;
                if (!text::sameName(f[3].mid(1, f[3].size() - 2), oldTablen)) continue;
                f[3] = f[3].left(1) + newTablen + f[3].right(1);
                line = f.join(QLatin1Char(','));
                any = true;
            }
            if (any) {
                if (!cp1251::writeLines(mapping, lines, &why)) fail(QStringLiteral("записать"), mapping, why);
                changed << QFileInfo(mapping).fileName();
            }
        }
    });
    return changed;
}

Changed renameForm(const QSqlDatabase &db, qint64 id, const QString &formname, const QString &decipher, bool net,
                   const QString &formsFolder) {
    Changed changed;
    QList<QPair<QString, QString>> moved;   // renamed files, to be put back on a failure
    try {
        db::transaction(db, [&] {
            const QString oldName =
                db::scalar(db, QStringLiteral("select formname from forms where id=?"), {id}).toString();
            const QStringList names = formNames(db);   // the old name among them
            gate::updateForm(db, id, formname, decipher, net);
            const QString newName = text::tabsToBlanks(formname).trimmed();
            if (oldName.isEmpty() || sameBytes(oldName, newName)) return;
            if (!text::sameName(oldName, newName)) {
                const QHash<qint64, QString> forms;
                const auto rewrite = [&](const QString &s, const QString &) {
                    return carryFormName(s, oldName, newName, names);
                };
                changed << rewriteRows(db, rulesTable(), forms, rewrite);
                changed << rewriteRows(db, cellsTable(), forms, rewrite);
                changed << rewriteRows(db, indicatorTable(), forms, rewrite);
            }
            if (formsFolder.isEmpty()) return;
            // The print files go by the form's name: they follow it, last, so
            // that a refused file leaves the database as it was.
            for (const QString &ext : {QStringLiteral(".txt"), QStringLiteral(".doc"), QStringLiteral(".docx")}) {
                const QString from = formsFolder + oldName + ext, to = formsFolder + newName + ext;
                if (!QFileInfo::exists(from)) continue;
                const bool sameFile = QFileInfo(from).canonicalFilePath() == QFileInfo(to).canonicalFilePath();
                if (QFileInfo::exists(to) && !sameFile)
                    fail(QStringLiteral("переименовать"), from, QStringLiteral("файл %1 уже есть").arg(to));
                std::error_code ec;
                std::filesystem::rename(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString(), ec);
                if (ec) fail(QStringLiteral("переименовать"), from, cp1251::systemReason(ec.value()));
                moved.append({from, to});
                changed << QFileInfo(to).fileName();
            }
        });
    } catch (...) {
        for (auto it = moved.crbegin(); it != moved.crend(); ++it) QFile::rename(it->second, it->first);
        throw;
    }
    return changed;
}

} // namespace carry
