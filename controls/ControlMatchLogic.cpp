#include "controls/ControlMatchLogic.h"

#include "controls/ZenkorImporter.h"
#include "engine/Lookups.h"
#include "engine/ControlFileLines.h"
#include "engine/Notation.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <algorithm>

namespace cmatch {

QString displayLine(const MatchRecord &r) {
    QString line = r.left + u' ' + r.relation + u' ' + r.right;
    if (!r.cycle.isEmpty()) line += QStringLiteral(" [") + r.cycle + u']';
    return line;
}

QString MirrorRelation(const QString &relation) {
    if (relation == QStringLiteral("<")) return QStringLiteral(">");
    if (relation == QStringLiteral(">")) return QStringLiteral("<");
    if (relation == QStringLiteral("<=")) return QStringLiteral(">=");
    if (relation == QStringLiteral(">=")) return QStringLiteral("<=");
    return relation;
}

QString MatchSortKey(const QString &line) {
    QString s = line;
    if (s.contains(kDuplicate) || s.contains(kOtherSign)) s = s.mid(13).trimmed();
    else if (s.contains(kDifferent)) s = s.mid(12).trimmed();
    const int blank = int(s.indexOf(u' '));
    return blank < 0 ? s : s.left(blank);
}

namespace {
int rank(const QString &line) {
    if (line.contains(kDuplicate)) return 0;
    if (line.contains(kOtherSign)) return 1;
    return 2;
}
} // namespace

int CompareMatchLines(const QString &a, const QString &b) {
    const int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    return text::compareNames(MatchSortKey(a), MatchSortKey(b));
}

QStringList filterAndSort(const QStringList &lines, bool onlyDifferent) {
    QStringList out;
    for (const QString &l : lines)
        if (!onlyDifferent || l.contains(kDifferent) || l.contains(kOtherSign)) out << l;
    std::stable_sort(out.begin(), out.end(),
                     [](const QString &a, const QString &b) { return CompareMatchLines(a, b) < 0; });
    return out;
}

Selection selectionFor(int kind, int filter, qint64 formId, const QString &tableText, const QString &formName) {
    Selection s;
    const bool formChosen = formId > 0;
    const bool tableChosen = !tableText.isEmpty();
    // Form id only for the form and table filters, and only with a choice.
    qint64 id = 0;
    if ((filter == 1 && formChosen) || (filter == 2 && formChosen && tableChosen)) id = formId;
    if ((filter == 1 || filter == 2) && id == 0) return s;   // nothing chosen: everything, all classes

    // The table and form filters of rules between tables and between forms
    // keep the rules a side of which names the choice, as the rule notation
    // reads the side (SelectionKeeps).
    const QString tableKey = notation::StoredTableKey(tableText);
    switch (kind) {
    case 0:
        if (filter == 0) {
            s.where = QStringLiteral("formid>0 and tble<>'' and tble is not null");
            s.zenkorWhere = QStringLiteral("where control_type=0");
        } else if (filter == 1) {
            s.where = QStringLiteral("formid=? and tble<>'' and tble is not null");
            s.whereParams = {id};
            s.zenkorWhere = QStringLiteral("where project_formid=? and control_type=0");
            s.zenkorParams = {id};
        } else {
            s.where = QStringLiteral("formid=? and upper(trim(tble))=upper(trim(?))");
            s.whereParams = {id, tableText};
            s.zenkorWhere = QStringLiteral("where project_formid=? and project_tble=? and control_type=0");
            s.zenkorParams = {id, tableText};
            s.defaultTable = tableText;
        }
        break;
    case 1:
        if (filter == 0) {
            s.where = QStringLiteral("formid>0 and (tble='' or tble is null)");
            s.zenkorWhere = QStringLiteral("where control_type=1");
        } else {
            s.where = QStringLiteral("formid=? and (tble='' or tble is null)");
            s.whereParams = {id};
            s.zenkorWhere = QStringLiteral("where project_formid=? and control_type=1");
            s.zenkorParams = {id};
            if (filter == 2) {
                s.sidesName = true;
                s.sideTable = tableKey;
                s.defaultTable = tableText;
            }
        }
        break;
    default:
        s.zenkorWhere = QStringLiteral("where control_type=2");
        if (filter == 0) {
            s.where = QStringLiteral("formid=0");
        } else {
            s.where = QStringLiteral("formid=0");
            s.sidesName = true;
            s.sideForm = formName;
            if (filter == 2) s.sideTable = tableKey;
            s.defaultTable = filter == 1 ? formName : formName + QStringLiteral("Т") + tableText;
        }
        break;
    }
    return s;
}

bool SelectionKeeps(const Selection &selection, const QString &left, const QString &right) {
    if (!selection.sidesName) return true;
    return ctlfile::SideNamesTable(left, selection.sideForm, selection.sideTable) ||
           ctlfile::SideNamesTable(right, selection.sideForm, selection.sideTable);
}

void markLines(const QList<MatchRecord> &project, const QList<MatchRecord> &external, QStringList &projectLines,
               QStringList &externalLines, int &duplicates, int *externalDuplicates, ProgressPacer *pacer) {
    // Marks one side's lines against the other side and counts its duplicates.
    // Rules compare only within the same form and table.
    auto mark = [pacer](const QList<MatchRecord> &own, const QList<MatchRecord> &other, QStringList &lines, int *count) {
        for (int i = 0; i < own.size(); ++i) {
            if (pacer) pacer->step();
            const MatchRecord &s = own.at(i);
            const QString normalised =
                QStringLiteral(" (") + s.left + u' ' + s.relation + u' ' + s.right + QStringLiteral(")");
            QString marked;
            for (const MatchRecord &e : other) {
                if (s.scope != e.scope) continue;
                bool same = false;
                if (s.left == e.left && s.right == e.right) same = s.relation == e.relation;
                else if (s.left == e.right && s.right == e.left) same = s.relation == MirrorRelation(e.relation);
                else continue;
                if (same) {
                    marked = kDuplicate + u' ' + lines.at(i);
                    if (count) ++*count;
                } else {
                    marked = kOtherSign + u' ' + lines.at(i) + normalised;
                }
                break;
            }
            if (marked.isEmpty()) marked = kDifferent + u' ' + lines.at(i) + normalised;
            lines[i] = marked;
        }
    };
    duplicates = 0;
    int externalCount = 0;
    mark(project, external, projectLines, &duplicates);
    mark(external, project, externalLines, &externalCount);
    if (externalDuplicates) *externalDuplicates = externalCount;
}

CompareResult CompareControlSets(TControlMatchImporter &importer, const Selection &selection, int kind,
                                 const QString &defaultForm, ProgressSink &progress) {
    CompareResult r;
    ProgressPacer pacer(progress);
    const QSqlDatabase d = db::connection(db::kMain);
    const bool filtered = !selection.where.isEmpty();
    const QString projectWhere = filtered ? QStringLiteral(" where ") + selection.where : QString();
    const QVariantList projectParams = filtered ? selection.whereParams : QVariantList();
    const QString externalWhere = filtered ? QStringLiteral(" ") + selection.zenkorWhere : QString();
    const QVariantList externalParams = filtered ? selection.zenkorParams : QVariantList();

    // The form and table a rule belongs to: an inter-form rule to none, an
    // inter-table rule to its form, an intra-table rule to its table.
    auto scopeOf = [](qint64 formId, const QString &table, int ruleClass) {
        if (ruleClass == 2 || formId <= 0) return QStringLiteral("0|");
        return QString::number(formId) + u'|' + (ruleClass == 0 ? table.trimmed() : QString());
    };
    auto load = [&](const QString &sql, const QString &where, const QVariantList &params, bool imported,
                    QList<MatchRecord> &recs, QStringList &lines) {
        QSqlQuery q = db::exec(d, sql + where, params);
        while (q.next()) {
            MatchRecord m{q.value(0).toString(), q.value(1).toString(), q.value(3).toString(), q.value(2).toString(), QString()};
            if (!SelectionKeeps(selection, m.left, m.right)) continue;
            const qint64 formId = q.value(4).toLongLong();
            const QString table = q.value(5).toString();
            const int ruleClass = imported ? q.value(6).toInt() : formId == 0 ? 2 : table.trimmed().isEmpty() ? 1 : 0;
            m.scope = scopeOf(formId, table, ruleClass);
            recs << m;
            lines << displayLine(m);
            pacer.tick();
        }
    };
    QList<MatchRecord> project, external;
    load(QStringLiteral("select lft, rght, reltion, cycl, project_formid, project_tble, control_type "
                        "from zenkor_controls"),
         externalWhere, externalParams, true, external, r.externalLines);
    load(QStringLiteral("select lft, rght, reltion, cycl, formid, tble from int_control"), projectWhere,
         projectParams, false, project, r.projectLines);

    // The gauge: every rule normalised, then every rule marked.
    progress.setMax(2 * int(project.size() + external.size()));
    pacer.report(0);
    for (QList<MatchRecord> *side : {&project, &external}) {
        for (MatchRecord &m : *side) {
            pacer.step();
            m.left = importer.NormalizeFormulaForMatch(m.left, kind, defaultForm, selection.defaultTable, m.cycle);
            m.right = importer.NormalizeFormulaForMatch(m.right, kind, defaultForm, selection.defaultTable, m.cycle);
        }
    }
    int externalDuplicates = 0;
    markLines(project, external, r.projectLines, r.externalLines, r.duplicates, &externalDuplicates, &pacer);
    // "New" counts the rules of each side that have no equal on the other.
    r.projectCount = int(project.size());
    r.externalCount = int(external.size());
    r.summary = {QStringLiteral("Результаты сопоставления контролей:"),
                 QStringLiteral("Контроли проекта: ") + QString::number(r.projectCount) +
                     QStringLiteral(" | Контроли минздрава: ") + QString::number(r.externalCount) +
                     QStringLiteral(" | Совпадающие: ") + QString::number(r.duplicates) +
                     QStringLiteral(" | Новые в проекте: ") + QString::number(r.projectCount - r.duplicates) +
                     QStringLiteral(" | Новые в выгрузке минздрава: ") +
                     QString::number(r.externalCount - externalDuplicates)};
    return r;
}

int exportImportedControls(qint64 formId, const QString &formName, const QString &path, QString *sqlText) {
    // The file is written once, after the rules are read: a failed read
    // leaves the previous file as it was.
    QString error;
    // The look-up narrows the rules between forms to those holding the name;
    // the notation decides which name one of its tables.
    const QString pattern = QStringLiteral("%") + db::likeLiteral(formName) + QStringLiteral("%");
    const QString sql = QStringLiteral("select * from zenkor_controls where project_formid=? or (project_formid=0 and "
                                       "((lft like ? escape '\\') or (rght like ? escape '\\')))\r\n"
                                       "order by project_tble, lft, rght");
    if (sqlText) {
        // The statement as run, with its values written in for the message.
        QString shown = sql;
        shown.replace(shown.indexOf(u'?'), 1, QString::number(formId));
        for (int i = 0; i < 2; ++i)
            shown.replace(shown.indexOf(u'?'), 1, QStringLiteral("\"*") + formName + QStringLiteral("*\""));
        *sqlText = shown;
    }
    const QSqlDatabase d = db::connection(db::kMain);
    QSqlQuery q = db::exec(d, QString(sql).replace(QStringLiteral("\r\n"), QStringLiteral(" ")),
                           {formId, pattern, pattern});
    QStringList lines;
    while (q.next()) {
        const qint64 pf = q.value(QStringLiteral("project_formid")).toLongLong();
        if (pf != formId && !ctlfile::SideNamesTable(q.value(QStringLiteral("lft")).toString(), formName, {}) &&
            !ctlfile::SideNamesTable(q.value(QStringLiteral("rght")).toString(), formName, {}))
            continue;
        const QString name = pf != 0 ? text::upper(GetFormNameById(pf)) : QString();
        auto field = [&](const char *column) { return q.value(QString::fromLatin1(column)).toString(); };
        lines << ctlfile::FormatControlLine(
            {name, field("project_tble"), field("lft"), field("reltion"), field("rght"), field("cycl"), field("commnt")});
    }
    if (!cp1251::writeLines(path, lines, &error))
        throw db::Error(QStringLiteral("Ошибка записи файла ") + path + QStringLiteral(": ") + error);
    return int(lines.size());
}

} // namespace cmatch
