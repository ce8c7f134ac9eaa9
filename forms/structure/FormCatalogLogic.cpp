#include "forms/structure/FormCatalogLogic.h"

#include "engine/CatalogGate.h"
#include "engine/CatalogRename.h"
#include "engine/EngineError.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "forms/structure/StructureEdit.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QSqlQuery>

// The trace of a structure import, one line per statement, goes to the
// system's debug output (Qt's message handler: the debugger on Windows,
// standard error elsewhere).
Q_LOGGING_CATEGORY(lcFrsImport, "kelvana.frs", QtDebugMsg)

namespace catalog {

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

QString formsFolderOfOpenYear() {
    const QString year = shared().openYearFolder();
    return year.isEmpty() ? QString() : year + QStringLiteral("forms/");
}

// Deletes the values of the tables in every values file of the year.
void deleteValues(const QList<qint64> &idents) {
    if (idents.isEmpty()) return;
    const QString in = db::inList(idents);
    auto clear = [&](const QSqlDatabase &d) {
        db::transaction(d, [&] {
            db::exec(d, QStringLiteral("delete from %1 where \"table\" in (%2)").arg(ValueTableName(ValueTable::Data), in));
            db::exec(d, QStringLiteral("delete from %1 where \"table\" in (%2)").arg(ValueTableName(ValueTable::RepData), in));
        });
    };
    const QString open = db::isOpen(db::kData) ? QFileInfo(db::fileOf(db::kData)).canonicalFilePath() : QString();
    if (!open.isEmpty()) clear(db::connection(db::kData));
    for (const QString &file : structedit::yearValuesFiles(mainDb(), shared().yearFolder(), QString())) {
        if (file == open) continue;
        db::ScopedConnection c(file, db::OpenMode::ReadWrite, QStringLiteral("values"));
        clear(c.db());
    }
}

void deleteStructure(const QSqlDatabase &d, qint64 ident) {
    const QVariantList p{ident};
    db::exec(d, QStringLiteral("delete from \"rows\" where \"table\"=?"), p);
    db::exec(d, QStringLiteral("delete from \"columns\" where \"table\"=?"), p);
    db::exec(d, QStringLiteral("delete from titles where \"table\"=?"), p);
}

// ---- writing in the database ----------------------------------------------------------

// Runs one statement of the import; a failure names the file line.
struct ImportRunner {
    QSqlDatabase d;
    int line = 0;
    // A write through the catalogue gate: its refusal, or a failed
    // statement, names the file line as well.
    template <class F> auto gate(F &&work) {
        try {
            return work();
        } catch (const EngineError &e) {
            throw Error(QStringLiteral("Ошибка на строке %1\r\nОшибка: %2").arg(line).arg(e.message()));
        } catch (const db::Error &e) {
            throw Error(QStringLiteral("Ошибка на строке %1\r\nОшибка: %2").arg(line).arg(e.message()));
        }
    }
    QSqlQuery run(const QString &sql, const QVariantList &params = {}) {
        qCDebug(lcFrsImport).noquote() << QStringLiteral("Импорт: Строка %1, SQL: %2").arg(line).arg(sql);
        try {
            return db::exec(d, sql, params);
        } catch (const db::Error &e) {
            throw Error(QStringLiteral("Ошибка на строке %1\r\nSQL: %2\r\nОшибка: %3").arg(line).arg(sql, e.message()));
        }
    }
};

} // namespace

QString yesNo(bool value) { return value ? QStringLiteral("Да") : QStringLiteral("Нет"); }

// ---- forms -------------------------------------------------------------------------

QList<FormRow> listForms() {
    QList<FormRow> out;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select id, formname, decipher, net from forms order by ind"));
    while (q.next()) out.append(FormRow{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                                        db::storedYes(q.value(3))});
    return out;
}

qint64 addForm(const QString &formname, const QString &decipher, bool net) {
    return gate::addForm(mainDb(), text::entry(formname), text::entry(decipher), net);
}

QStringList updateForm(qint64 id, const QString &formname, const QString &decipher, bool net) {
    return carry::renameForm(mainDb(), id, text::entry(formname), text::entry(decipher), net,
                             formsFolderOfOpenYear());
}

void deleteForm(qint64 id) {
    const QSqlDatabase d = mainDb();
    QList<qint64> idents;
    for (const QVariant &v : db::column(d, QStringLiteral("select ident from tables where form=?"), {id}))
        idents.append(v.toLongLong());
    // Values first: when they cannot be deleted the definitions stay, so the
    // command can be repeated.
    deleteValues(idents);
    db::transaction(d, [&] {
        db::exec(d, QStringLiteral("delete from med_type_forms where formsid=?"), {id});
        db::exec(d, QStringLiteral("delete from forms where id=?"), {id});
        for (qint64 ident : idents) {
            deleteStructure(d, ident);
            db::exec(d, QStringLiteral("delete from conditions where tid=?"), {ident});
        }
        db::exec(d, QStringLiteral("delete from tables where form=?"), {id});
    });
}

void saveFormOrder(const QList<qint64> &idsInOrder) {
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        for (int i = 0; i < idsInOrder.size(); ++i)
            gate::setFormOrder(d, idsInOrder[i], i);
    });
}

// ---- tables ---------------------------------------------------------------------------

QList<TableRow> listTables(qint64 formId) {
    QList<TableRow> out;
    QSqlQuery q = db::exec(mainDb(),
                           QStringLiteral("select ident, tablen, name, floattype, scan from tables where form=? "
                                          "order by tablen asc"),
                           {formId});
    while (q.next())
        out.append(TableRow{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                            db::storedYes(q.value(3)), q.value(4).toInt()});
    return out;
}

QStringList updateTable(qint64 ident, const QString &tablen, const QString &name, bool floattype, int scan) {
    return carry::renameTable(mainDb(), ident, text::entry(tablen), text::entry(name), floattype, scan,
                              formsFolderOfOpenYear());
}

void DeleteTableWithData(qint64 ident) {
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        try {
            db::exec(d, QStringLiteral("delete from conditions where tid=?"), {ident});
        } catch (const db::Error &) {
            // A main database without calculated cells: nothing to delete.
        }
        deleteStructure(d, ident);
        db::exec(d, QStringLiteral("delete from tables where ident=?"), {ident});
    });
    deleteValues({ident});
}

// ---- structure files ---------------------------------------------------------------------

QString formFieldsFault(const QString &formname, const QString &decipher) {
    QString fault = frs::fieldFault(QStringLiteral("Форма"), formname);
    if (fault.isEmpty()) fault = frs::fieldFault(QStringLiteral("Содержание"), decipher, frs::FieldKind::Text);
    if (fault.isEmpty()) fault = text::entryProblem(formname, QStringLiteral("Форма"));
    if (fault.isEmpty()) fault = text::entryProblem(decipher, QStringLiteral("Содержание"));
    return fault;
}

QString tableFieldsFault(const QString &tablen, const QString &name) {
    QString fault = frs::fieldFault(QStringLiteral("Номер"), tablen);
    if (fault.isEmpty()) fault = gate::tableNumberFormatFault(tablen);
    if (fault.isEmpty()) fault = frs::fieldFault(QStringLiteral("Содержание"), name, frs::FieldKind::Text);
    if (fault.isEmpty()) fault = text::entryProblem(tablen, QStringLiteral("Номер"));
    if (fault.isEmpty()) fault = text::entryProblem(name, QStringLiteral("Содержание"));
    return fault;
}

QString formIdentityFault(const QString &formname, qint64 selfId) {
    return gate::formIdentityFault(mainDb(), formname, selfId);
}

QString tableIdentityFault(qint64 ident, const QString &tablen) {
    const QSqlDatabase d = mainDb();
    const QVariant form = db::scalar(d, QStringLiteral("select form from tables where ident=?"), {ident});
    return form.isValid() ? gate::tableIdentityFault(d, form.toLongLong(), tablen, ident) : QString();
}

void exportForm(qint64 formId, const QString &path) {
    const QStringList lines = frs::formLines(mainDb(), formId);
    if (lines.isEmpty()) throw Error(QStringLiteral("Форма не найдена"));
    frs::writeFile(path, lines);
}

ImportResult importFrs(const frs::Form &form) { return importFrs(mainDb(), form); }

ImportResult importFrs(const QSqlDatabase &d, const frs::Form &form) {
    ImportResult result;
    ImportRunner run{d, 1};
    db::transaction(run.d, [&] {
        QList<QPair<QString, qint64>> stored;
        const gate::PutForm put = run.gate([&] { return gate::putForm(run.d, form.formname, form.decipher, form.net); });
        result.formId = put.id;
        result.newForm = put.added;
        result.formname = put.formname;
        if (!put.added) {
            QSqlQuery t = run.run(QStringLiteral("select ident, tablen from tables where form=?"), {result.formId});
            while (t.next()) stored.append({t.value(1).toString(), t.value(0).toLongLong()});
        }

        QSet<QString> imported;
        for (const frs::Table &t : form.tables) {
            run.line = t.line;
            const TableShape shape = frs::shapeOf(t);
            // The table of that number, letter case ignored, keeps its number.
            const std::optional<gate::FoundTable> found = gate::findTable(run.d, result.formId, t.tablen);
            qint64 ident = 0;
            if (found) {
                ident = found->ident;
                run.gate([&] { gate::setTableDefinition(run.d, ident, t.name, shape); return 0; });
                run.run(QStringLiteral("delete from \"columns\" where \"table\"=?"), {ident});
                run.run(QStringLiteral("delete from \"rows\" where \"table\"=?"), {ident});
                run.run(QStringLiteral("delete from titles where \"table\"=?"), {ident});
                imported.insert(found->tablen);
            } else {
                ident = run.gate([&] { return gate::addTable(run.d, result.formId, t.tablen, t.name, shape); });
            }
            imported.insert(t.tablen);
            for (const frs::RowCol &r : t.rows) {
                run.line = r.line;
                run.run(QStringLiteral("insert into \"rows\" (\"table\", \"row\", height) values (?,?,?)"),
                        {ident, r.number, r.size});
            }
            for (const frs::RowCol &c : t.columns) {
                run.line = c.line;
                run.run(QStringLiteral("insert into \"columns\" (\"table\", \"column\", width) values (?,?,?)"),
                        {ident, c.number, c.size});
            }
            for (const frs::Title &h : t.titles) {
                run.line = h.line;
                run.run(QStringLiteral("insert into titles (\"table\", \"column\", \"row\", union_sc, union_sr, "
                                       "union_ec, union_er, fontname, fontsize, fontbold, fontitalic, tchars, txt) "
                                       "values (?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                        {ident, h.column, h.row, h.sc, h.sr, h.ec, h.er, h.fontname, h.fontsize, h.bold, h.italic,
                         h.tchars, text::entry(h.txt, text::Field::MultiLine)});
            }
        }
        for (const auto &s : stored)
            if (!imported.contains(s.first)) result.missing.append(s);
    });
    return result;
}

QString missingTablesQuestion(const QList<QPair<QString, qint64>> &missing) {
    QString q = QStringLiteral("Следующие таблицы отсутствуют в импорте:\r\n");
    for (const auto &m : missing) q += QStringLiteral("  - ") + m.first + QStringLiteral("\r\n");
    q += QStringLiteral("\r\nУдалить эти таблицы сейчас? (Вы можете удалить их позже вруччную)");
    return q;
}

} // namespace catalog
