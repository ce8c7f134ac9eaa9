#include "controls/ControlRules.h"

#include "engine/ControlFileLines.h"
#include "engine/Lookups.h"
#include "engine/TableShape.h"
#include "core/FormulaHighlighter.h"
#include "engine/FormulaParser.h"
#include "engine/ProgressSink.h"
#include "engine/RuleCheck.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>

namespace controls {

namespace {

const QString kKey = QStringLiteral("\"Код\"");

QString value(const QSqlQuery &q, const QString &name) {
    const int i = q.record().indexOf(name);
    return i < 0 ? QString() : q.value(i).toString();
}

// A text bound as a value: never null, so an empty field stays an empty text.
QString nn(const QString &v) { return v.isNull() ? QStringLiteral("") : v; }


} // namespace

RuleRecord RuleRecordOf(const QSqlQuery &q) {
    RuleRecord r;
    r.key = q.value(0).toLongLong();
    r.formId = q.value(QStringLiteral("formid")).toLongLong();
    r.table = value(q, QStringLiteral("tble"));
    r.texts = {value(q, QStringLiteral("lft")), value(q, QStringLiteral("reltion")), value(q, QStringLiteral("rght")),
               value(q, QStringLiteral("cycl")), value(q, QStringLiteral("commnt"))};
    return r;
}

int RelationIndex(const QString &relation) {
    const QString r = relation.left(2).trimmed();
    const int i = int(kRelations.indexOf(r));
    return i < 0 ? 0 : i;
}

QList<RuleItem> ListRules(const QSqlDatabase &mainDb, const RuleScope &s) {
    QString sql;
    QVariantList params;
    const bool haveForm = s.formId >= 0;
    const bool haveTable = !s.table.isEmpty();
    switch (s.ruleClass) {
    case IntraTable:
        if (!haveForm || !haveTable) return {};
        sql = QStringLiteral("select * from int_control where formid=? and upper(trim(tble))=upper(trim(?)) "
                             "order by commnt collate NAMES");
        params = {s.formId, s.table};
        break;
    case InterTable:
        if (!haveForm) return {};
        sql = QStringLiteral("select * from int_control where formid=? and (tble='' or tble is null)");
        params = {s.formId};
        sql += QStringLiteral(" order by commnt collate NAMES");
        break;
    default: {
        sql = QStringLiteral("select * from int_control where formid=0 order by lft");
        break;
    }
    }
    QSqlQuery q = db::exec(mainDb, sql, params);
    const QSqlRecord rec = q.record();
    if (rec.indexOf(QStringLiteral("commnt")) < 0) {
        QStringList names;
        for (int i = 0; i < rec.count(); ++i) names << rec.fieldName(i);
        throw db::Error(QStringLiteral("Ошибка: поле commnt не найдено в результате запроса.\r\nSQL-запрос: ") + sql +
                        QStringLiteral("\r\nНайденные поля: ") + names.join(QStringLiteral(", ")));
    }
    // The table (and form) filters read each side's references as the rule
    // notation reads them.
    const auto names = [&](const QString &form, const QString &table) {
        return ctlfile::SideNamesTable(value(q, QStringLiteral("lft")), form, table) ||
               ctlfile::SideNamesTable(value(q, QStringLiteral("rght")), form, table);
    };
    QList<RuleItem> out;
    while (q.next()) {
        if (s.ruleClass == InterTable && s.filter == FilterTable && haveTable && !names(QString(), s.table)) continue;
        if (s.ruleClass == InterForm && s.filter == FilterTable && haveForm && haveTable && !names(s.formName, s.table))
            continue;
        if (s.ruleClass == InterForm && s.filter == FilterForm && haveForm && !names(s.formName, QString())) continue;
        out.append({value(q, QStringLiteral("commnt")), q.value(0).toLongLong()});
    }
    return out;
}

std::optional<RuleRecord> ReadRule(const QSqlDatabase &mainDb, qint64 key) {
    QSqlQuery q;
    try {
        q = db::exec(mainDb, QStringLiteral("select * from int_control where ") + kKey + QStringLiteral("=?"), {key});
    } catch (const db::Error &) {
        q = db::exec(mainDb, QStringLiteral("select * from int_control where id=?"), {key});
    }
    if (!q.next()) return std::nullopt;
    return RuleRecordOf(q);
}

QString UnencodableMessage(const QString &typed) { return text::unencodableProblem(typed); }

namespace {

// The rule as it would be stored for the scope.
rulecheck::RuleText storedText(const rulecheck::RuleChecker &checker, const RuleScope &s, const RuleTexts &t) {
    rulecheck::RuleText r{QString(), QString(), t.lft, t.reltion, t.rght, t.cycl};
    if (s.ruleClass != InterForm) {
        r.formName = checker.formNameById(s.formId);
        if (r.formName.isEmpty()) r.formName = s.formName.isEmpty() ? QStringLiteral("?") : s.formName;
    }
    if (s.ruleClass == IntraTable) r.table = s.table.isEmpty() ? QStringLiteral("()") : s.table;
    return r;
}

} // namespace

bool ValidateRule(const rulecheck::RuleChecker &checker, const RuleScope &s, const RuleTexts &t,
                  const std::function<void(const QString &)> &show, int *focus) {
    auto refuse = [&](const QString &message, int where) {
        if (show) show(message);
        if (focus) *focus = where;
        return false;
    };
    if (focus) *focus = 0;
    // Rules travel in code page 1251 files: a character it cannot hold would
    // come back as "?".
    const QString *texts[] = {&t.lft, &t.rght, &t.cycl, &t.commnt};
    for (int i = 0; i < 4; ++i)
        if (const QString bad = UnencodableMessage(*texts[i]); !bad.isEmpty()) return refuse(bad, i + 1);
    const rulecheck::Verdict v = checker.Check(storedText(checker, s, t));
    if (!v) return refuse(v.reason, v.field);
    return true;
}

bool ValidateRule(const RuleScope &s, const RuleTexts &t, const std::function<void(const QString &)> &show, int *focus) {
    return ValidateRule(rulecheck::RuleChecker(db::connection(db::kMain)), s, t, show, focus);
}

RuleScope ScopeOfSave(const QSqlDatabase &mainDb, const RuleScope &chosen, qint64 key) {
    if (key == 0) return chosen;
    const std::optional<RuleRecord> r = ReadRule(mainDb, key);
    if (!r) return chosen;
    RuleScope s = ScopeOfRule(*r);
    s.filter = chosen.filter;
    return s;
}

qint64 SaveRule(const QSqlDatabase &mainDb, const RuleScope &chosen, qint64 key, const RuleTexts &t) {
    const rulecheck::RuleChecker checker(mainDb);
    const RuleScope s = ScopeOfSave(mainDb, chosen, key);
    const rulecheck::RuleText r = storedText(checker, s, t);
    const rulecheck::Verdict v = key != 0 ? rulecheck::UpdateCheckedRule(mainDb, checker, key, r, nn(t.commnt))
                                          : rulecheck::InsertCheckedRule(mainDb, checker, r, nn(t.commnt), &key);
    if (!v) throw db::Error(QStringLiteral("Контроль не сохранен. ") + v.reason);
    return key;
}

int DeleteRules(const QSqlDatabase &mainDb, const QList<qint64> &keys) {
    int count = 0;
    db::transaction(mainDb, [&] {
        for (qint64 key : keys) {
            if (key == 0) continue;
            QSqlQuery q = db::exec(mainDb, QStringLiteral("delete from int_control where ") + kKey + QStringLiteral("=?"), {key});
            if (q.numRowsAffected() > 0) ++count;
        }
    });
    return count;
}

RuleScope ScopeOfRule(const RuleRecord &r) {
    RuleScope s;
    if (r.formId <= 0) {
        s.ruleClass = InterForm;
        return s;
    }
    s.formId = r.formId;
    s.formName = GetFormNameById(r.formId);
    s.table = r.table;
    s.ruleClass = r.table.isEmpty() ? InterTable : IntraTable;
    return s;
}

QHash<qint64, QString> ReplaceInRules(const QSqlDatabase &mainDb, const QList<qint64> &keys, int where,
                                      const QString &find, const QString &replacement, int *changed,
                                      QStringList *refused) {
    QHash<qint64, QString> comments;
    if (changed) *changed = 0;
    if (refused) refused->clear();
    if (find.isEmpty()) return comments;
    int written = 0;
    const rulecheck::RuleChecker checker(mainDb);
    // All the selected rules change together or none does.
    db::transaction(mainDb, [&] {
        for (qint64 key : keys) {
            if (key == 0) continue;
            const std::optional<RuleRecord> r = ReadRule(mainDb, key);
            if (!r) continue;
            RuleTexts t = r->texts;
            auto rep = [&](QString &s, int w) {
                if (where == ReplaceEverywhere || where == w) s.replace(find, replacement, Qt::CaseSensitive);
            };
            rep(t.lft, ReplaceLeft);
            rep(t.rght, ReplaceRight);
            rep(t.cycl, ReplaceCycle);
            rep(t.commnt, ReplaceComment);
            // A pasted Tab or line break is a blank, as the storing gate makes it: the check and the list of
            // refusals see the rule as it would be stored.
            for (QString *side : {&t.lft, &t.rght, &t.cycl})
                *side = text::entryLayout(*side, text::Field::Formula).trimmed();
            t.commnt = text::entryLayout(t.commnt, text::Field::OneLine);
            const RuleTexts &o = r->texts;
            if (t.lft == o.lft && t.rght == o.rght && t.cycl == o.cycl && t.commnt == o.commnt) continue;
            // A changed rule is stored only when a save would store it.
            // The refusal shows the rule as the replacement made it, so the
            // fault the replacement brought in can be seen.
            QStringList why;
            if (!ValidateRule(checker, ScopeOfRule(*r), t, [&](const QString &m) { why << m; })) {
                if (refused)
                    refused->append(t.commnt + QStringLiteral(" (") + t.lft + u' ' + t.reltion + u' ' + t.rght +
                                    (t.cycl.trimmed().isEmpty() ? QString() : QStringLiteral(", цикл ") + t.cycl) +
                                    QStringLiteral("): ") + why.join(QStringLiteral("; ")));
                continue;
            }
            const rulecheck::Verdict v =
                rulecheck::UpdateCheckedRule(mainDb, checker, key, storedText(checker, ScopeOfRule(*r), t), nn(t.commnt));
            if (!v) {
                if (refused) refused->append(o.commnt + QStringLiteral(": ") + v.reason);
                continue;
            }
            ++written;
            if (t.commnt != o.commnt) comments.insert(key, t.commnt);
        }
    });
    if (changed) *changed = written;
    return comments;
}

// ---- Expansion ---------------------------------------------------------------

namespace {

// A cycle as one bracketed group: its marker as typed, then "[", the list,
// "]", whether it was typed with brackets ("СТР[2..3]", "стр [2..3]") or
// without ("стр2..3", "ГР 4"). Empty for an unclosed "[".
QString cycleGroup(const notation::Cycle &kind) {
    QStringView list;
    if (!notation::ListOfPart(kind.after, list)) return {};
    return kind.marker + u'[' + list.toString() + u']';
}

} // namespace

QString InsertCycle(const QString &text, const QString &cycle) {
    if (text.isEmpty() || cycle.isEmpty()) return text;
    const notation::Cycle kind = notation::ReadCycle(cycle);
    if (!kind.found) return text;
    const QString group = cycleGroup(kind);
    if (group.isEmpty()) return text;
    const QString up = text::upper(text);
    // The old group with its "]" gives way to the cycle.
    if (const auto own = notation::FirstGroup(up, kind.line, false)) {
        if (own->close < 0) return text;
        return QString(text).replace(own->at, own->close - own->at + 1, group);
    }
    const auto other = notation::FirstGroup(up, notation::OtherLine(kind.line), false);
    if (!other) return text + group;
    // Rows come first: before the column group, after the row group.
    const qsizetype at = kind.line == notation::Line::Rows ? other->at
                         : other->close >= 0                ? other->close + 1
                                                            : other->open + 1;
    return QString(text).insert(at, group);
}

QString ExpandRuleSide(const QString &text, int mode, const QString &cycle, const QString &table,
                       const QString &formName) {
    QString e = QualifyFormulaRefs(text, mode, formName, table);
    if (!cycle.isEmpty()) e = InsertCycle(e, cycle);
    return e;
}

int CarryCaret(int caret, int originalLength, int expandedLength) {
    if (caret <= 0 || originalLength <= 0 || expandedLength <= 0) return 0;
    return int(qint64(caret) * expandedLength / originalLength);
}

// ---- Previous year ---------------------------------------------------------------

namespace {

bool hasAny(const QString &text, const QStringList &words) {
    const QString l = text.toLower();
    for (const QString &w : words)
        if (l.contains(w)) return true;
    return false;
}

// True when the side has a reference that differs from the previous year.
bool sideDiffers(const TFormulaHighlighter &h, const QString &side, int previousYear) {
    const QString expr = side.trimmed();
    if (expr.isEmpty()) return false;
    const QStringList missing = {QStringLiteral("не найдена"), QStringLiteral("ошибка"), QStringLiteral("база данных")};
    const QStringList broken = {QStringLiteral("не найдена"), QStringLiteral("ошибка")};
    for (const QString &ref : h.ExtractReferences(expr)) {
        if (ref.isEmpty()) continue;
        try {
            QString d;
            try {
                d = h.GetDecipher(ref);
            } catch (const std::exception &) {
                d.clear();
            }
            if (d.isEmpty()) continue;
            QString q;
            try {
                q = h.GetPreviousYearDecipher(ref, previousYear, shared().ConfigPath);
            } catch (const std::exception &) {
                q.clear();
            }
            if (q.isEmpty() || hasAny(d, broken)) continue;
            if (!hasAny(q, missing)) {
                if (TFormulaHighlighter::NormalizeDecipher(d).trimmed() != TFormulaHighlighter::NormalizeDecipher(q).trimmed())
                    return true;
            } else {
                return true;   // exists now, not in the previous year
            }
        } catch (...) {
            // this reference is passed over
        }
    }
    return false;
}

} // namespace

bool CheckControlAgainstPreviousYear(qint64 key, const QString &lft, const QString &rght, const QString &,
                                     const QString &cycle) {
    try {
        int ruleClass = InterForm;
        QString formName, table;
        try {
            const QSqlDatabase d = db::connection(db::kMain);
            QSqlQuery q = db::exec(d, QStringLiteral("select formid, tble from int_control where ") + kKey +
                                          QStringLiteral("=?"), {key});
            if (q.next()) {
                const qint64 formId = q.value(0).toLongLong();
                const QString tble = q.value(1).toString();
                if (formId > 0) {
                    formName = GetFormNameById(formId);
                    if (tble.isEmpty()) {
                        ruleClass = InterTable;
                    } else {
                        ruleClass = IntraTable;
                        table = tble;
                    }
                }
            }
        } catch (const std::exception &) {
            // the class found so far stays
        }
        const QString l = ExpandRuleSide(lft, ruleClass, cycle, table, formName);
        const QString r = ExpandRuleSide(rght, ruleClass, cycle, table, formName);
        if (shared().ConfigPath.isEmpty()) return false;
        const int previousYear = ComparisonYear();
        const QString previousDb = shared().ConfigPath + QString::number(previousYear) + QStringLiteral("/orvmain.mdb");
        if (!QFileInfo(previousDb).isFile()) return false;
        TFormulaHighlighter h(nullptr, nullptr);
        if (sideDiffers(h, l, previousYear)) return true;
        return sideDiffers(h, r, previousYear);
    } catch (...) {
        return false;
    }
}

QStringList SearchAllRuleDiscrepancies(const QSqlDatabase &mainDb, ProgressSink *progress) {
    const int total = db::scalar(mainDb, QStringLiteral("select count(*) as cnt from int_control")).toInt();
    if (total == 0) return {QStringLiteral("Контроли не найдены")};
    auto step = [&](int position, const QString &detail) {
        if (!progress) return;
        progress->setPosition(position);
        progress->setDetailText(detail);
        progress->checkCancelled();
    };
    if (progress) {
        progress->setMax(total);
        progress->setStatusText(QStringLiteral("Поиск расхождений в контролях..."));
        progress->setPosition(0);
    }
    auto test = [](const QSqlQuery &q) {
        try {
            return CheckControlAgainstPreviousYear(q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                                                   q.value(3).toString(), q.value(4).toString());
        } catch (...) {
            return false;
        }
    };
    const QString columns = QStringLiteral("select ") + kKey + QStringLiteral(", lft, rght, reltion, cycl from int_control where ");

    // Inter-form rules.
    int nf = 0;
    bool interFormDiffers = false;
    {
        QSqlQuery q = db::exec(mainDb, columns + QStringLiteral("formid=0 order by ") + kKey);
        while (q.next()) {
            ++nf;
            step(nf, QStringLiteral("Проверка межформенных контролей... (") + QString::number(nf) + u')');
            if (test(q)) {
                interFormDiffers = true;
                break;
            }
        }
    }
    // Inter-table rules, form by form.
    int nt = 0;
    QStringList forms;
    {
        const QVariantList ids = db::column(mainDb, QStringLiteral("select distinct formid from int_control where formid>0 "
                                                                   "and (tble='' or tble is null) order by formid"));
        for (int k = 0; k < ids.size(); ++k) {
            const qint64 formId = ids[k].toLongLong();
            const QString name = GetFormNameById(formId);
            QSqlQuery q = db::exec(mainDb, columns + QStringLiteral("formid=? and (tble='' or tble is null) order by ") + kKey,
                                   {formId});
            while (q.next()) {
                ++nt;
                step(nt, QStringLiteral("Проверка межтабличных контролей формы: ") + name + QStringLiteral(" (") +
                             QString::number(k + 1) + QStringLiteral(" ф. из ") + QString::number(ids.size()) +
                             QStringLiteral(", контролей: ") + QString::number(nt) + u')');
                if (test(q)) {
                    if (!forms.contains(name)) forms.append(name);
                    break;
                }
            }
        }
    }
    // Intra-table rules, table by table.
    int ni = 0;
    QStringList tables;
    {
        QSqlQuery pairs = db::exec(mainDb, QStringLiteral("select distinct formid, tble from int_control where formid>0 "
                                                          "and tble<>'' and tble is not null order by formid, tble"));
        QList<QPair<qint64, QString>> list;
        while (pairs.next()) list.append({pairs.value(0).toLongLong(), pairs.value(1).toString()});
        for (int k = 0; k < list.size(); ++k) {
            const QString name = GetFormNameById(list[k].first);
            const QString tble = list[k].second;
            QSqlQuery q = db::exec(mainDb,
                                   columns + QStringLiteral("formid=? and upper(trim(tble))=upper(trim(?)) order by ") +
                                       kKey,
                                   {list[k].first, tble});
            while (q.next()) {
                ++ni;
                step(ni, QStringLiteral("Проверка внутритабличных контролей: ") + name + QStringLiteral(" - ") + tble +
                             QStringLiteral(" (") + QString::number(k + 1) + QStringLiteral(" табл. из ") +
                             QString::number(list.size()) + QStringLiteral(", контролей: ") + QString::number(ni) + u')');
                if (test(q)) {
                    const QString entry = name + QStringLiteral(" - ") + tble;
                    if (!tables.contains(entry)) tables.append(entry);
                    break;
                }
            }
        }
    }
    const QString none = QStringLiteral("   Расхождений не найдено");
    QStringList out;
    out << QStringLiteral("Результаты проверки расхождений контролей с прошлым годом:") << QString();
    out << QStringLiteral("1. Межформенные контроли:") << QStringLiteral("   Проверено контролей: ") + QString::number(nf)
        << (interFormDiffers ? QStringLiteral("   Есть расхождения") : none) << QString();
    out << QStringLiteral("2. Межтабличные контроли:") << QStringLiteral("   Проверено контролей: ") + QString::number(nt);
    if (forms.isEmpty()) {
        out << none;
    } else {
        out << QStringLiteral("   Есть расхождения в формах:");
        for (const QString &f : forms) out << QStringLiteral("   - ") + f;
    }
    out << QString();
    out << QStringLiteral("3. Внутритабличные контроли:") << QStringLiteral("   Проверено контролей: ") + QString::number(ni);
    if (tables.isEmpty()) {
        out << none;
    } else {
        out << QStringLiteral("   Есть расхождения в таблицах:");
        for (const QString &t : tables) out << QStringLiteral("   - ") + t;
    }
    out << QString();
    out << QStringLiteral("Всего проверено контролей: ") + QString::number(nf + nt + ni);
    return out;
}

QStringList RulePrintLines(const QSqlDatabase &mainDb, const QStringList &headings, const QList<qint64> &keys) {
    QStringList out = headings;
    for (qint64 key : keys) {
        const std::optional<RuleRecord> r = ReadRule(mainDb, key);
        if (!r) continue;
        const RuleTexts &t = r->texts;
        out << QStringList{t.lft, t.reltion, t.rght, t.cycl, t.commnt}.join(u'\t');
    }
    return out;
}

} // namespace controls
