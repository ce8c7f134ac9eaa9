// Rule files (controls/ControlFile) loaded into the sample, added ("Добавление")
// and replacing ("Замещение"). Oracles: an added load keeps every rule there
// was and stores as many as it says, each accepted by the rule check; a
// replacing load leaves the rules of the forms its file does not carry and
// keeps none of the old rules of the forms it does; the rules loaded,
// written out by the writer of rule files and loaded again, are written out
// the same.
#include "fuzz/Fuzz.h"

#include "controls/ControlFile.h"
#include "engine/RuleCheck.h"
#include "platform/Database.h"

#include <QMap>
#include <QSqlQuery>

namespace {

struct Rule {
    qint64 formId = 0;
    QString table, lft, reltion, rght, cycl, commnt;
    bool operator==(const Rule &) const = default;
};

QMap<qint64, Rule> rules() {
    QMap<qint64, Rule> out;
    QSqlQuery q = db::exec(db::connection(db::kMain),
                           QStringLiteral("select \"Код\", formid, tble, lft, reltion, rght, cycl, commnt from int_control"));
    while (q.next())
        out.insert(q.value(0).toLongLong(), {q.value(1).toLongLong(), q.value(2).toString(), q.value(3).toString(),
                                             q.value(4).toString(), q.value(5).toString(), q.value(6).toString(),
                                             q.value(7).toString()});
    return out;
}

QList<qint64> added(const QMap<qint64, Rule> &before, const QMap<qint64, Rule> &after) {
    QList<qint64> keys;
    for (auto it = after.begin(); it != after.end(); ++it)
        if (!before.contains(it.key())) keys << it.key();
    return keys;
}

QString formName(qint64 formId) {
    return db::scalar(db::connection(db::kMain), QStringLiteral("select formname from forms where id=?"), {formId}).toString();
}

} // namespace

void fuzz::input(const QByteArray &input) {
    fuzz::sample();
    const QString path = fuzz::writeInput(input, QStringLiteral("input.orv"));
    const QSqlDatabase mainDb = db::connection(db::kMain);
    const QMap<qint64, Rule> before = rules();

    fuzz::rolledBack("an added rule file", [&] {
        const controls::LoadResult r = controls::LoadControlFile(mainDb, path, controls::LoadMode::Append);
        const QMap<qint64, Rule> after = rules();
        for (auto it = before.begin(); it != before.end(); ++it)
            fuzz::check(after.value(it.key()) == it.value(), "an added load keeps every rule there was");
        const QList<qint64> keys = added(before, after);
        fuzz::check(keys.size() == r.inserted, "an added load stores as many rules as it says");
        for (qint64 key : keys) {
            const Rule &n = after[key];
            const rulecheck::Verdict v =
                rulecheck::CheckRule(mainDb, {n.formId ? formName(n.formId) : QString(), n.table, n.lft, n.reltion, n.rght, n.cycl});
            fuzz::check(v.ok, "a loaded rule passes the rule check", v.reason);
        }
        // Written out and loaded again, the rules are written out the same:
        // loaded beside themselves they are there already, loaded in their place anew.
        const QStringList written = ctlfile::ControlFileLinesForKeys(mainDb, keys);
        fuzz::check(written.size() == keys.size(), "every loaded rule is written out");
        const QString again = fuzz::scratch() + QStringLiteral("written.orv");
        ctlfile::WriteControlFile(again, written);
        fuzz::answers("a rule file loaded twice", [&] {
            const controls::LoadResult twice = controls::LoadControlFile(mainDb, again, controls::LoadMode::Append);
            fuzz::check(twice.inserted == 0 && twice.alreadyStored == keys.size(), "rules loaded twice are there already",
                        QStringLiteral("%1 stored, %2 there of %3").arg(twice.inserted).arg(twice.alreadyStored).arg(keys.size()));
        });
        fuzz::check(rules() == after, "rules loaded twice are stored once");
        ctlfile::DeleteRulesByKeys(mainDb, keys);
        const controls::LoadResult second = controls::LoadControlFile(mainDb, again, controls::LoadMode::Append);
        fuzz::check(second.inserted == keys.size() && second.rejects.isEmpty(), "the written rules load again whole",
                    QStringLiteral("%1 of %2: ").arg(second.inserted).arg(keys.size()) + second.rejects.join(u'\n') +
                        QStringLiteral("\n  written:\n") + written.join(u'\n'));
        fuzz::check(ctlfile::ControlFileLinesForKeys(mainDb, added(after, rules())) == written,
                    "the written rules load as they were written", written.join(u'\n'));
    });

    fuzz::rolledBack("a replacing rule file", [&] {
        controls::LoadControlFile(mainDb, path, controls::LoadMode::Replace);
        const QMap<qint64, Rule> after = rules();
        QSet<qint64> carried;
        for (qint64 key : added(before, after)) carried.insert(after[key].formId);
        for (auto it = before.begin(); it != before.end(); ++it) {
            if (it.value().formId == 0) continue;   // rules between forms: replaced by what they name
            if (carried.contains(it.value().formId))
                fuzz::check(!after.contains(it.key()), "a replacing load keeps no old rule of a form it carries");
            else
                fuzz::check(after.value(it.key()) == it.value(), "a replacing load keeps the rules of other forms");
        }
    });
    return;
}
