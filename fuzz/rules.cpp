// Rule texts (lines of a rule file: form, table, sides, relation, cycle,
// comment) through the rule check (engine/RuleCheck) and the control run of
// the whole territory (forms/shared/FormListLogic, engine/RuleEngine) on the
// sample's values. Oracles: the writer stores what the check accepts, and
// what it stores passes the check; a stored rule is run with both sides of
// every line it reports reduced to numbers, the run failing with nothing
// else than a Russian message.
#include "fuzz/Fuzz.h"

#include "core/SampleConfig.h"
#include "engine/ControlFileLines.h"
#include "engine/RuleCheck.h"
#include "engine/RuleEngine.h"
#include "engine/TextUtil.h"
#include "forms/shared/FormListLogic.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QSqlQuery>

namespace {

// The most rules of one input: enough to meet each other in a run.
constexpr int kMaxRules = 8;

} // namespace

void fuzz::input(const QByteArray &input) {
    fuzz::sample();
    QList<ctlfile::ControlLine> rules;
    QStringList lines;
    if (!cp1251::readLines(fuzz::writeInput(input, QStringLiteral("rules.orv")), lines)) return;
    for (const QString &line : lines)
        if (const std::optional<ctlfile::ControlLine> l = ctlfile::ParseControlLine(line); l && rules.size() < kMaxRules)
            rules << *l;
    if (rules.isEmpty()) return;
    fuzz::rolledBack("a rule's check and run", [&] {
        const QSqlDatabase mainDb = db::connection(db::kMain);
        const rulecheck::RuleChecker checker(mainDb);
        QHash<qint64, QString> stored;   // key -> relation as stored
        for (const ctlfile::ControlLine &l : rules) {
            const rulecheck::RuleText text{l.formName, l.table, l.lft, l.reltion, l.rght, l.cycl};
            const rulecheck::Verdict verdict = checker.Check(text);
            qint64 key = 0;
            const rulecheck::Verdict written = rulecheck::InsertCheckedRule(mainDb, checker, text, l.commnt, &key);
            fuzz::check(verdict.ok || !verdict.reason.isEmpty(), "a refused rule is refused with a reason");
            // What the check accepts is stored, unless its comment cannot be.
            fuzz::check(written.ok || !verdict.ok || !text::entryProblem(l.commnt).isEmpty(),
                        "the writer of rules stores what the check accepts", written.reason);
            if (!written.ok) continue;
            // What is stored (the texts as the entry gate leaves them) passes the check.
            QSqlQuery q = db::exec(mainDb, QStringLiteral("select lft, reltion, rght, cycl from int_control where \"Код\"=?"),
                                   {key});
            q.next();
            const rulecheck::Verdict again = checker.Check(
                {l.formName, l.table, q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                 q.value(3).toString()});
            fuzz::check(again.ok, "a stored rule passes the check", again.reason);
            stored.insert(key, q.value(1).toString());
        }
        if (stored.isEmpty()) return;
        RuleRunContext context;
        context.institution = sample::ids::SouthHospital;
        context.valueTable = ValueTable::Data;
        RuleRun run(context);
        formlist::runAllControls(run, formlist::formsForType(-1, false), QString());
        const StringList &errors = run.errors();
        for (int i = 0; i < errors.count(); ++i) {
            if (!stored.contains(errors.object(i))) continue;
            fuzz::check(fuzz::sidesAreNumbers(errors.text(i), stored.value(errors.object(i))),
                        "a rule the check accepted is run with both sides reduced to numbers", errors.text(i));
        }
    });
    return;
}
