#include "engine/CatalogRename.h"

#include "engine/CatalogGate.h"
#include "engine/EngineError.h"
#include "engine/Notation.h"
#include "engine/RuleCheck.h"
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
#include <optional>

namespace carry {

namespace {

// Whether a text changed at all, letter case included: a number changed only
// in letter case is still carried (print files go by the exact name).
bool sameBytes(const QString &a, const QString &b) { return a.compare(b, Qt::CaseSensitive) == 0; }

QHash<qint64, QString> namesById(const QSqlDatabase &db) {
    QHash<qint64, QString> out;
    QSqlQuery q = db::exec(db, QStringLiteral("select id, formname from forms"));
    while (q.next()) out.insert(q.value(0).toLongLong(), q.value(1).toString());
    return out;
}

// A text cut short for a message.
QString shortText(const QString &t, int length = 60) {
    const QString s = t.simplified();
    return s.size() > length ? s.left(length - 1) + QStringLiteral("…") : s;
}

// A rule as the user knows it: its comment and its sides.
QString ruleLabel(const QString &comment, const QString &lft, const QString &reltion, const QString &rght) {
    const QString sides = shortText(lft) + u' ' + reltion.trimmed() + u' ' + shortText(rght);
    return comment.trimmed().isEmpty() ? QStringLiteral("контроль %1").arg(sides)
                                       : QStringLiteral("контроль \"%1\" (%2)").arg(shortText(comment), sides);
}

// ---- the texts that name forms and tables ------------------------------------------------

// One stored text row: its key, its own form, its texts (null kept) and how the user knows it.
struct TextRow {
    QVariant key;
    qint64 formId = 0;
    QString table;        // a rule's own table ("" for none)
    QVariantList texts;
    QString reltion, comment, where;
};

struct TextTable {
    QString table, key, select;   // select: key, own form, then the text columns
    QStringList columns;
    bool chained = false;         // a reference's form and table stand for the ones after it (calculated cells)
    bool rules = false;
};

TextTable rulesTable() {
    return {QStringLiteral("int_control"), QStringLiteral("\"Код\""),
            QStringLiteral("select \"Код\", formid, lft, rght, cycl, coalesce(tble,''), reltion, commnt from int_control "
                           "order by 1"),
            {QStringLiteral("lft"), QStringLiteral("rght"), QStringLiteral("cycl")}, false, true};
}

TextTable cellsTable() {
    return {QStringLiteral("conditions"), QStringLiteral("rowid"),
            QStringLiteral("select c.rowid, t.form, c.formula, c.condition, c.lft, c.rght, t.tablen, c.\"row\", "
                           "c.\"column\" from conditions c left join tables t on t.ident=c.tid order by 1"),
            {QStringLiteral("formula"), QStringLiteral("condition"), QStringLiteral("lft"), QStringLiteral("rght")},
            true};
}

TextTable indicatorTable() {
    return {QStringLiteral("formulas"), QStringLiteral("rowid"),
            QStringLiteral("select f.rowid, 0, f.formula, t.part, f.\"row\", f.\"column\" from formulas f "
                           "left join tree t on t.ident=f.term order by 1"),
            {QStringLiteral("formula")}};
}

QList<TextRow> readRows(const QSqlDatabase &db, const TextTable &t, const QHash<qint64, QString> &forms) {
    QList<TextRow> out;
    if (!db::tableExists(db, t.table)) return out;
    QSqlQuery q = db::exec(db, t.select);
    const int n = int(t.columns.size());
    while (q.next()) {
        TextRow r;
        r.key = q.value(0);
        r.formId = q.value(1).toLongLong();
        for (int i = 0; i < n; ++i) r.texts << q.value(2 + i);
        if (t.rules) {
            r.table = q.value(2 + n).toString();
            r.reltion = q.value(3 + n).toString();
            r.comment = q.value(4 + n).toString();
            r.where = ruleLabel(r.comment, r.texts[0].toString(), r.reltion, r.texts[1].toString());
        } else if (t.chained) {
            r.where = QStringLiteral("расчетная ячейка %1%2, строка %3, графа %4")
                          .arg(forms.value(r.formId), q.value(2 + n).toString(), q.value(3 + n).toString(),
                               q.value(4 + n).toString());
        } else {
            r.where = QStringLiteral("показатель \"%1\", строка %2, графа %3")
                          .arg(shortText(q.value(2 + n).toString(), 40), q.value(3 + n).toString(),
                               q.value(4 + n).toString());
        }
        out.append(r);
    }
    return out;
}

// Rewrites the text columns of every row through `rewrite` (given the row's
// own form); returns a label per changed row, as the user knows it.
Changed rewriteRows(const QSqlDatabase &db, const TextTable &t, const QHash<qint64, QString> &forms,
                    const std::function<QString(const QString &, const QString &, bool)> &rewrite) {
    Changed changed;
    QStringList sets;
    for (const QString &c : t.columns) sets << QLatin1Char('"') + c + QStringLiteral("\"=?");
    for (TextRow &r : readRows(db, t, forms)) {
        bool any = false;
        for (QVariant &v : r.texts) {
            if (v.isNull()) continue;
            const QString after = rewrite(v.toString(), forms.value(r.formId), t.chained);
            any = any || after != v.toString();
            v = after;
        }
        if (!any) continue;
        const QSqlQuery w = db::exec(
            db, QStringLiteral("update %1 set %2 where %3=?").arg(t.table, sets.join(QStringLiteral(", ")), t.key),
            QVariantList(r.texts) << r.key);
        // A row deleted since it was read is not named as changed.
        if (w.numRowsAffected() <= 0) continue;
        const QString label = t.rules ? ruleLabel(r.comment, r.texts[0].toString(), r.reltion, r.texts[1].toString())
                              : t.chained ? QStringLiteral("расчетные ячейки")
                                          : QStringLiteral("показатели");
        if (!changed.contains(label)) changed << label;
    }
    return changed;
}

// ---- readable before, readable after ------------------------------------------------------

// How many references of a text name no table of the catalogue, read as its
// reader completes them: a rule's references by the rule check; a calculated
// cell's by the form and table of the reference before them (the first by
// the cell's own form); an indicator's only when they name both.
int unreadReferences(const QString &text, const QString &ownForm, bool chained, const rulecheck::RuleChecker &c) {
    int unread = 0;
    QString form = ownForm, table;
    for (const notation::TextReference &r : notation::FindTextReferences(text)) {
        const QString f = r.hasForm() ? text.mid(r.formAt, r.formEnd - r.formAt) : form;
        const QString k = r.hasTable() ? u'(' + text.mid(r.keyAt, r.keyEnd - r.keyAt).trimmed() + u')' : table;
        if (chained) {
            form = f;
            table = k;
        } else if (!r.hasForm() || !r.hasTable()) {
            continue;   // an indicator's identifier
        }
        if (!c.shape(c.formIdByName(f), k).found()) ++unread;
    }
    return unread;
}

struct Stored {
    QList<TextRow> rules, cells, indicators;
    static Stored read(const QSqlDatabase &db, const QHash<qint64, QString> &forms) {
        return {readRows(db, rulesTable(), forms), readRows(db, cellsTable(), forms), readRows(db, indicatorTable(), forms)};
    }
};

bool ruleReads(const TextRow &r, const rulecheck::RuleChecker &c) {
    const QString form = r.formId == 0 ? QString() : c.formNameById(r.formId);
    return bool(c.Check({form, r.table, r.texts[0].toString(), r.reltion, r.texts[1].toString(), r.texts[2].toString()}));
}

int unreadTexts(const TextRow &r, const QString &ownForm, bool chained, const rulecheck::RuleChecker &c) {
    int n = 0;
    for (const QVariant &v : r.texts)
        if (!v.isNull()) n += unreadReferences(v.toString(), ownForm, chained, c);
    return n;
}

// Throws, naming them, when a text that the catalogue before the rename read
// would not be read after it. The database is that after the rename.
void refuseUnreadable(const QSqlDatabase &db, const rulecheck::RuleChecker &before, const Stored &was,
                      const QHash<qint64, QString> &formsBefore) {
    const rulecheck::RuleChecker after(db);
    const QHash<qint64, QString> forms = namesById(db);
    const Stored now = Stored::read(db, forms);
    QStringList lost;
    for (int i = 0; i < was.rules.size() && i < now.rules.size(); ++i)
        if (ruleReads(was.rules[i], before) && !ruleReads(now.rules[i], after)) lost << was.rules[i].where;
    const auto texts = [&](const QList<TextRow> &a, const QList<TextRow> &b, bool chained) {
        for (int i = 0; i < a.size() && i < b.size(); ++i)
            if (unreadTexts(b[i], forms.value(b[i].formId), chained, after) >
                unreadTexts(a[i], formsBefore.value(a[i].formId), chained, before))
                lost << a[i].where;
    };
    texts(was.cells, now.cells, true);
    texts(was.indicators, now.indicators, false);
    if (lost.isEmpty()) return;
    throw EngineError(QStringLiteral("После переименования перестали бы читаться ссылки на форму или таблицу в:\r\n%1\r\n"
                                     "(ссылка без номера таблицы берет его из контроля или ссылки перед ней). Укажите "
                                     "таблицу в этих ссылках или выберите другое имя. Ничего не изменено.")
                          .arg(lost.join(QStringLiteral("\r\n"))));
}

// The stored texts as the catalogue before a rename reads them: the rename
// is carried into them and refused when one would no longer be read.
struct Before {
    QHash<qint64, QString> forms;
    rulecheck::RuleChecker checker;
    Stored texts;
    explicit Before(const QSqlDatabase &db) : forms(namesById(db)), checker(db), texts(Stored::read(db, forms)) {}

    // Rewrites every rule, calculated cell and indicator text through rewrite
    // (given a text, its row's own form and whether its references chain),
    // then refuses what is no longer read. The database is that after the
    // rename.
    Changed carry(const QSqlDatabase &db,
                  const std::function<QString(const QString &, const QString &, bool)> &rewrite) const {
        Changed changed;
        for (const TextTable &t : {rulesTable(), cellsTable(), indicatorTable()})
            changed << rewriteRows(db, t, forms, rewrite);
        refuseUnreadable(db, checker, texts, forms);
        return changed;
    }
};

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
                         const QString &newTablen, const QString &ownForm, bool chained) {
    const QString newInner = newTablen.trimmed().mid(1, newTablen.trimmed().size() - 2);
    QString out;
    qsizetype done = 0;
    QString current = ownForm;
    for (const notation::TextReference &r : notation::FindTextReferences(text)) {
        const QString named = r.hasForm() ? text.mid(r.formAt, r.formEnd - r.formAt) : QString();
        const QString form = r.hasForm() ? named : current;
        if (chained && r.hasForm()) current = named;
        if (!r.hasTable() || !text::sameName(form, formName) ||
            !text::sameName(u'(' + text.mid(r.keyAt, r.keyEnd - r.keyAt).trimmed() + u')', oldTablen))
            continue;
        out += text.mid(done, r.keyAt - done) + newInner;
        done = r.keyEnd;
    }
    return out + text.mid(done);
}

QString carryFormName(const QString &text, const QString &oldName, const QString &newName) {
    QString out;
    qsizetype done = 0;
    for (const notation::TextReference &r : notation::FindTextReferences(text)) {
        if (!r.hasForm() || !text::sameName(text.mid(r.formAt, r.formEnd - r.formAt), oldName)) continue;
        out += text.mid(done, r.formAt - done) + newName.trimmed();
        done = r.formEnd;
    }
    return out + text.mid(done);
}

Changed renameTable(const QSqlDatabase &db, qint64 ident, const QString &tablen, const QString &name,
                    bool floattype, int scan, const QString &formsFolder) {
    Changed changed;
    const auto add = [&](const Changed &more) {
        for (const QString &c : more)
            if (!changed.contains(c)) changed << c;
    };
    db::transaction(db, [&] {
        QSqlQuery own = db::exec(db, QStringLiteral("select t.tablen, t.form, f.formname from tables t "
                                                    "left join forms f on f.id=t.form where t.ident=?"),
                                 {ident});
        const bool found = own.next();
        const QString oldTablen = found ? own.value(0).toString() : QString();
        const qint64 formId = found ? own.value(1).toLongLong() : 0;
        const QString formName = found ? own.value(2).toString() : QString();
        const QString newTablen = text::tabsToBlanks(tablen).trimmed();
        const bool carried = found && !sameBytes(oldTablen.trimmed(), newTablen);
        std::optional<Before> before;
        if (carried) before.emplace(db);
        gate::updateTable(db, ident, tablen, name, floattype, scan);
        if (!carried) return;
        // The rules of the table itself name it by their own column.
        for (const TextRow &r : before->texts.rules) {
            if (r.formId != formId || r.table.trimmed().isEmpty() || !text::sameName(r.table, oldTablen) ||
                sameBytes(r.table, newTablen))
                continue;
            const QSqlQuery w = db::exec(db, QStringLiteral("update int_control set tble=? where \"Код\"=?"),
                                         {text::entry(newTablen, text::Field::OneLine), r.key});
            if (w.numRowsAffected() > 0) add({r.where});
        }
        add(before->carry(db, [&](const QString &s, const QString &ownForm, bool chained) {
            return carryTableNumber(s, formName, oldTablen, newTablen, ownForm, chained);
        }));
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
            const QString newName = text::tabsToBlanks(formname).trimmed();
            const bool carried = !oldName.isEmpty() && !text::sameName(oldName, newName);
            std::optional<Before> before;
            if (carried) before.emplace(db);
            gate::updateForm(db, id, formname, decipher, net);
            if (oldName.isEmpty() || sameBytes(oldName, newName)) return;
            if (before)
                changed << before->carry(db, [&](const QString &s, const QString &, bool) {
                    return carryFormName(s, oldName, newName);
                });
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
