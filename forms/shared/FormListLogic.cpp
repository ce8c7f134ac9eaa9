#include "forms/shared/FormListLogic.h"

#include "engine/ImportPolicy.h"
#include "forms/shared/TransferFiles.h"

#include "engine/SummaryMembers.h"
#include "engine/StringList.h"
#include "engine/Conditions.h"
#include "engine/ProgressSink.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "engine/TableShape.h"
#include "platform/Codepage.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QDir>
#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>

namespace formlist {

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

const QString kTableMark = QStringLiteral("*Т");

struct TableRow : TableShape {
    QString tablen;
};

QList<TableRow> tablesOf(qint64 formId, const QString &order) {
    QList<TableRow> out;
    QSqlQuery q = db::exec(mainDb(),
                           QStringLiteral("select ident, tablen, colcount, rowcount, fixcols, fixrows, floattype, scan "
                                          "from tables where form=? order by %1").arg(order),
                           {formId});
    while (q.next()) out.append(TableRow{ShapeOfTableRecord(q), q.value(1).toString()});
    return out;
}

// A rule as a control run takes it.
using RuleRow = RuleRun::Rule;

// Runs the rules the run holds under a heading, which is taken back when
// the run adds nothing.
void runUnderHeading(RuleRun &run, const QString &heading, const QString &defaultText, const LabelFn &label) {
    if (label) label(heading);
    StringList &errors = run.errors();
    const int before = errors.count();
    errors.add(heading);
    run.runControls(defaultText, label);
    if (errors.count() == before + 1) errors.removeAt(before);
}

// Runs the rules given under a heading.
void runRules(RuleRun &run, const QString &heading, const QString &defaultText, const QList<RuleRow> &rules,
              const LabelFn &label) {
    run.addRules(rules);
    runUnderHeading(run, heading, defaultText, label);
}

// SQLite's trim(): blanks only.
QString trimBlanks(const QString &s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b] == u' ') ++b;
    while (e > b && s[e - 1] == u' ') --e;
    return s.mid(b, e - b);
}

// The rules of a form in the order of the index on (formid, tble): the
// inter-table rules ("tble='' or tble is null") and those of each table
// ("upper(trim(tble))=upper(trim(?))"), the latter under upper(trim(tble)).
struct FormRules {
    QList<RuleRow> interTable;
    QHash<QString, QList<RuleRow>> byTable;
};

// The rules of the forms given, by form, read in one statement.
QHash<qint64, FormRules> rulesOfForms(const QList<FormEntry> &forms) {
    QHash<qint64, FormRules> out;
    QList<qint64> ids;
    for (const FormEntry &f : forms) ids.append(f.id);
    if (ids.isEmpty()) return out;
    FormRules *current = nullptr;
    qint64 currentId = 0;
    // The rules come table by table: the list of the last stored table name
    // serves the next rule naming it the same way.
    QList<RuleRow> *tableRules = nullptr;
    QString tableText;
    db::readRows(mainDb(),
                 QStringLiteral("select \"Код\", lft, rght, reltion, commnt, cycl, tble, formid from int_control "
                                "where formid in (%1) order by formid, tble, \"Код\"").arg(db::inList(ids)),
                 {}, [&](const db::ReadRow &f) {
                     const qint64 formId = f.integer(7);
                     if (!current || formId != currentId) {
                         current = &out[formId];
                         currentId = formId;
                         tableRules = nullptr;
                     }
                     RuleRow r{f.integer(0), f.text(1), f.text(2), f.text(3), f.text(4), f.text(5)};
                     const QString table = f.text(6);
                     if (table.isEmpty()) current->interTable.append(r);
                     if (table.isNull()) return;
                     if (!tableRules || table != tableText) {
                         tableRules = &current->byTable[trimBlanks(table).toUpper()];
                         tableText = table;
                     }
                     tableRules->append(std::move(r));
                 });
    return out;
}

// Loads the rules of a query and runs them under a heading, which is taken
// back when the run adds nothing.
void runBlock(RuleRun &run, const QString &heading, const QString &defaultText, const QString &sql, const QVariantList &params,
              const std::function<bool(const QSqlRecord &)> &keep, const LabelFn &label) {
    QSqlQuery q = db::exec(mainDb(), sql, params);
    while (q.next()) {
        const QSqlRecord r = q.record();
        if (!keep || keep(r)) run.addRule(r);
    }
    runUnderHeading(run, heading, defaultText, label);
}

const QString kInterTableSql =
    QStringLiteral("select * from int_control where formid=? and (tble='' or tble is null)");
const QString kInterFormSql = QStringLiteral("select * from int_control where formid=0 order by lft");

std::function<bool(const QSqlRecord &)> interFormFilter(const QString &selectedFormName, bool net) {
    const QString name = text::upper(selectedFormName);
    return [net, name](const QSqlRecord &r) {
        const QString lft = r.value(QStringLiteral("lft")).toString();
        const QString rght = r.value(QStringLiteral("rght")).toString();
        if (net) return text::upper(lft).contains(name) || text::upper(rght).contains(name);
        return IsControlApplicable(lft, rght);
    };
}

QString boolText(const QVariant &v) {
    return db::storedYes(v) ? QStringLiteral("True") : QStringLiteral("False");
}

bool boolOf(const QString &s) {
    const QString t = s.trimmed().toLower();
    return t == QLatin1String("true") || t == QLatin1String("да") || (t != QLatin1String("false") && t.toDouble() != 0);
}

} // namespace

QString formNameOfText(const QString &nodeText) {
    const int dash = nodeText.indexOf(QLatin1String(" - "));
    return dash >= 0 ? nodeText.left(dash) : nodeText;
}

QString tableNumberOfText(const QString &nodeText) { return formNameOfText(nodeText); }

QList<FormEntry> formsForType(qint64 medicalType, bool net) {
    QList<FormEntry> out;
    const SharedState &s = shared();
    QString where;
    QVariantList params;
    if (net) {
        where = QStringLiteral("where net=1");
    } else if (medicalType == -1) {
        where = QStringLiteral("where net=0 or net is null");
    } else {
        QList<qint64> ids;
        for (const QVariant &v : db::column(mainDb(),
                                            QStringLiteral("select formsId from med_type_forms where medicalsId=? "
                                                           "order by formsId"),
                                            {medicalType}))
            ids.append(v.toLongLong());
        if (ids.isEmpty()) return out;
        where = QStringLiteral("where id in (%1)").arg(db::inList(ids));
    }
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select id, formname, decipher from forms %1 order by ind, id").arg(where),
                           params);
    while (q.next()) {
        FormEntry f;
        f.id = q.value(0).toLongLong();
        f.name = q.value(1).toString();
        f.text = f.name + QStringLiteral(" - ") + q.value(2).toString();
        for (const CachedTable &cached : s.Caches.tables) {
            if (cached.formId != f.id || !cached.tablen.startsWith(QLatin1Char('('))) continue;
            TableEntry t;
            t.text = cached.tablen + QStringLiteral(" - ") + cached.name;
            t.tablen = tableNumberOfText(t.text);
            t.ident = cached.shape.ident;
            f.tables.append(t);
        }
        out.append(f);
    }
    return out;
}

bool IsControlApplicable(const QString &left, const QString &right) {
    const QString l = text::upper(left), r = text::upper(right);
    for (const CachedForm &form : shared().Caches.forms) {
        if (!form.net) continue;
        const QString &n = form.name;
        if (n.isEmpty()) continue;
        if (l.contains(n) || r.contains(n)) return false;
    }
    return true;
}

bool runFormControls(RuleRun &run, qint64 formId, const QString &formName, const QString &formText,
                     const LabelFn &label) {
    const int before = run.errors().count();
    runBlock(run, formNameOfText(formText) + QStringLiteral(" - межтабличный контроль"), formName, kInterTableSql,
             {formId}, {}, label);
    if (label) label(QString());
    return run.errors().count() > before;
}

bool runInterFormControls(RuleRun &run, const QString &selectedFormName, const LabelFn &label) {
    const int before = run.errors().count();
    runBlock(run, QStringLiteral("Межформенный контроль"), QString(), kInterFormSql, {}, interFormFilter(selectedFormName, run.context().net),
             label);
    if (label) label(QString());
    return run.errors().count() > before;
}

bool runAllControls(RuleRun &run, const QList<FormEntry> &forms, const QString &selectedFormName,
                    const LabelFn &label, ProgressSink &progress) {
    int blocks = 1;
    for (const FormEntry &f : forms) blocks += int(f.tables.size()) + 1;
    progress.setMax(blocks);
    progress.setPosition(0);
    ProgressPacer pacer(progress);
    // Every table read shows its name and answers "Отмена".
    const LabelFn shown = [&](const QString &t) {
        if (label) label(t);
        progress.setDetailText(t);
        progress.checkCancelled();
    };
    // A cancelled run leaves the error list as it was.
    const StringList previous = run.errors();
    try {
        const QHash<qint64, FormRules> rulesByForm = rulesOfForms(forms);
        for (const FormEntry &f : forms) {
            const FormRules rules = rulesByForm.value(f.id);
            for (const TableEntry &t : f.tables) {
                QString n = t.tablen;
                if (n.startsWith(QLatin1Char('('))) n.remove(0, 1);
                if (n.endsWith(QLatin1Char(')'))) n.chop(1);
                shown(f.name + QStringLiteral(" - ") + t.tablen);
                runRules(run, f.name + QStringLiteral("т") + t.tablen, f.name + QStringLiteral("Т[") + n + QLatin1Char(']'),
                         rules.byTable.value(trimBlanks(t.tablen).toUpper()),
                         [&](const QString &) { progress.checkCancelled(); });
                pacer.step();
            }
            runRules(run, f.name + QStringLiteral(" - межтабличный контроль"), f.name, rules.interTable, shown);
            pacer.step();
        }
        runBlock(run, QStringLiteral("Межформенный контроль"), QString(), kInterFormSql, {},
                 interFormFilter(selectedFormName, run.context().net), shown);
        pacer.step();
    } catch (const Cancelled &) {
        run.errors() = previous;
        if (label) label(QString());
        throw;
    }
    if (label) label(QString());
    return run.errors().count() > previous.count();
}

namespace {

SummaryMembers requireRunMembers(const RuleRun &run) {
    const RuleRunContext &c = run.context();
    return RequireMembers(c.memberKind, c.includeList, c.institution);
}

} // namespace

void recalculateForm(RuleRun &run, qint64 formId, const QString &formName, const LabelFn &label,
                     ProgressPacer *pacer) {
    if (!run.context().net) requireRunMembers(run);
    // All tables of the form are stored together or none is.
    db::transaction(db::connection(db::kData), [&] {
        for (const TableRow &t : tablesOf(formId, QStringLiteral("tablen"))) {
            run.createMatrix(t);
            const QString where = formName + QStringLiteral("т") + t.tablen;
            if (run.context().net) {
                try {
                    run.calcConditions(t.ident, label, where + QStringLiteral(" - "), where + QStringLiteral(": "));
                } catch (const Cancelled &) {
                    throw;
                } catch (const std::exception &e) {
                    throw db::Error(where + QStringLiteral(": ") + winutil::errorText(e) +
                                    QStringLiteral("\r\nПересчет не выполнен, сохраненные значения не изменены."));
                }
            } else {
                if (label) label(formName + QStringLiteral(" - ") + t.tablen);
                run.sumInstitutions(formId, t.tablen, pacer);
            }
            run.saveTable(formId, t.tablen);
            if (pacer) pacer->step();
        }
    });
    if (label) label(QString());
}

SummaryMembers recalculateForms(RuleRun &run, const QList<FormEntry> &forms, const LabelFn &label,
                                ProgressSink &progress) {
    SummaryMembers members;
    if (!run.context().net) members = requireRunMembers(run);
    int tables = 0;
    for (const FormEntry &f : forms) tables += int(f.tables.size());
    progress.setMax(tables);
    progress.setPosition(0);
    ProgressPacer pacer(progress);
    db::transaction(db::connection(db::kData), [&] {
        for (const FormEntry &f : forms) recalculateForm(run, f.id, f.name, label, &pacer);
    });
    return members;
}

void clearInstitution(qint64 institution) {
    transfer::requireTarget(ValueTable::Data, institution);
    db::exec(db::connection(db::kData), QStringLiteral("delete from %1 where hospital=?").arg(ValueTableName(ValueTable::Data)), {institution});
}

void clearForm(qint64 institution, qint64 formId) {
    transfer::requireTarget(ValueTable::Data, institution);
    QList<qint64> idents;
    for (const TableRow &t : tablesOf(formId, QStringLiteral("ident"))) idents.append(t.ident);
    db::exec(db::connection(db::kData),
             QStringLiteral("delete from %1 where hospital=? and \"table\" in (%2)").arg(ValueTableName(ValueTable::Data), db::inList(idents)),
             {institution});
}

void clearTable(qint64 institution, qint64 tableIdent) {
    transfer::requireTarget(ValueTable::Data, institution);
    db::exec(db::connection(db::kData), QStringLiteral("delete from %1 where hospital=? and \"table\"=?").arg(ValueTableName(ValueTable::Data)),
             {institution, tableIdent});
}

int exportConditions(qint64 formId, const QString &formName, const QString &path) {
    QStringList lines;
    const QChar tab = QLatin1Char('\t');
    for (const TableRow &t : tablesOf(formId, QStringLiteral("ident"))) {
        QSqlQuery q = db::exec(mainDb(),
                               QStringLiteral("select \"row\", \"column\", type, formula, condition, koeff, country, "
                                              "midle, types from conditions where tid=? order by rowid"),
                               {t.ident});
        while (q.next()) {
            QStringList f;
            f << formName << t.tablen << q.value(0).toString() << q.value(1).toString() << boolText(q.value(2))
              << q.value(3).toString() << q.value(4).toString() << q.value(5).toString() << boolText(q.value(6))
              << boolText(q.value(7)) << q.value(8).toString();
            // A line break or Tab in any field (a formula stored so by an
            // older copy, say) would split the line the import reads.
            for (QString &x : f) x = text::encodeFieldControls(x);
            lines.append(f.join(tab));
        }
    }
    QString error;
    if (!cp1251::writeLines(path, lines, &error))
        throw db::Error(QStringLiteral("Не удалось записать файл %1: %2").arg(QDir::toNativeSeparators(path), error));
    return int(lines.size());
}

ConditionsImport importConditions(qint64 formId, const QString &formName, const QString &path) {
    QStringList lines;
    QString error;
    if (!cp1251::readLines(path, lines, &error))
        throw db::Error(QStringLiteral("Не удалось прочитать файл %1: %2").arg(QDir::toNativeSeparators(path), error));
    const QList<TableRow> tables = tablesOf(formId, QStringLiteral("ident"));
    importpolicy::ImportCheck check(path,
                                    QStringLiteral("В файле %1 нет условий формы %2.")
                                        .arg(QDir::toNativeSeparators(path), text::shownField(formName)),
                                    QStringLiteral("Условия не изменены."));
    struct Cond { qint64 ident; QStringList f; double divisor; };
    QList<Cond> rows;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty()) continue;
        check.line();
        QStringList f = lines[i].split(QLatin1Char('\t'));
        for (QString &x : f) x = text::decodeFieldControls(x);
        if (f.size() != 11)
            throw db::Error(importpolicy::withNotes(
                QStringLiteral("Файл %1 поврежден: в строке %2 не одиннадцать полей. Условия не импортированы.")
                    .arg(QDir::toNativeSeparators(path)).arg(i + 1),
                {importpolicy::encodingHint(path)}));
        bool okRow = false, okCol = false;
        f[2].toInt(&okRow);
        f[3].toInt(&okCol);
        if (!okRow || !okCol)
            throw db::Error(QStringLiteral("Файл %1 поврежден: строка %2. Условия не импортированы.")
                                .arg(QDir::toNativeSeparators(path)).arg(i + 1));
        double divisor = 1;
        if (!ReadConditionDivisor(f[7], divisor))
            throw db::Error(QStringLiteral("Файл %1: в строке %2 делитель \"%3\" не число от -%4 до %4. Условия не "
                                           "импортированы.")
                                .arg(QDir::toNativeSeparators(path)).arg(i + 1).arg(f[7], ConditionDivisorText(kMaxDivisor)));
        // Names and numbers are compared whole: "(1000-дополнение-1)" and
        // "(1000-дополнение-2)" are two tables.
        if (!text::sameName(f[0], formName)) {
            // A form of this configuration is another target; any other is unknown.
            bool known = false;
            for (const CachedForm &form : shared().Caches.forms)
                if (text::sameName(form.name, f[0])) known = true;
            if (!known) check.unknown(f[0], f[1]);
            continue;
        }
        qint64 ident = -1;
        for (const TableRow &t : tables)
            if (text::sameName(t.tablen, f[1])) ident = t.ident;
        if (ident < 0) {
            check.unknown(formName, f[1]);
            continue;
        }
        check.accepted(ident);
        rows.append(Cond{ident, f, divisor});
    }
    check.requireAccepted();
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        // Only the tables the file carries are replaced.
        for (const qint64 ident : check.carried())
            db::exec(d, QStringLiteral("delete from conditions where tid=?"), {ident});
        for (const Cond &c : rows) {
            const QStringList &f = c.f;
            db::exec(d,
                     QStringLiteral("insert into conditions (tid, \"row\", \"column\", type, formula, condition, koeff, "
                                    "country, lft, rght, midle, types) values (?,?,?,?,?,?,?,?,'','',?,?)"),
                     {c.ident, f[2].toInt(), f[3].toInt(), boolOf(f[4]), text::entry(f[5], text::Field::Formula),
                      text::entry(f[6], text::Field::MultiLine),
                      c.divisor, boolOf(f[8]), boolOf(f[9]), f[10]});   // as the check read it
        }
    });
    ConditionsImport out;
    out.imported = int(rows.size());
    out.tables = int(check.carried().size());
    out.message = importpolicy::withNotes(QStringLiteral("Условия успешно импортированы"),
                                          {QStringLiteral("Импортировано условий: %1 (таблиц: %2).")
                                               .arg(out.imported).arg(out.tables),
                                           check.closingNotes()});
    return out;
}

} // namespace formlist
