// The user's own edits of a form's rules between an update's install and its rollback, made through the rule editor
// and the control file load: the rollback brings back the form's rule set exactly as the update's backup holds it, each
// rule under its key, whatever the edits were. (Rules the user added to the form since the install go with the update,
// as the rollback's question says: "Все изменения будут восстановлены из резервной копии".)
#include "controls/ControlFile.h"
#include "controls/ControlRules.h"
#include "engine/ControlFileLines.h"
#include "updates/ServedSample.h"
#include "updates/UpdateInstaller.h"

using namespace updtest;

namespace {

qint64 formId(const QString &form) {
    return db::scalar(mainDb(), "select id from forms where formname=?", {form}).toLongLong();
}

// A rule of Ф30 with a table, as the editor reads it.
controls::RuleRecord aTableRuleOfF30() {
    const qint64 key = db::scalar(mainDb(), "select min(\"Код\") from int_control where formid=? and tble<>''",
                                  {formId("Ф30")})
                           .toLongLong();
    return *controls::ReadRule(mainDb(), key);
}

} // namespace

TEST(UpdateRollback, TheFormsRulesAfterTheRollbackAreExactlyTheBackups) {
    struct Edit {
        const char *what;
        std::function<void(const QString &exported)> apply;
    };
    const Edit edits[] = {
        {"the rules exported before the install loaded with \"Замещение\"",
         [](const QString &exported) { controls::LoadControlFile(mainDb(), exported, controls::LoadMode::Replace); }},
        {"the same loaded with \"Добавление\"",
         [](const QString &exported) { controls::LoadControlFile(mainDb(), exported, controls::LoadMode::Append); }},
        {"a rule the update brought deleted and typed again",
         [](const QString &) {
             const controls::RuleRecord r = aTableRuleOfF30();
             ASSERT_EQ(controls::DeleteRules(mainDb(), {r.key}), 1);
             ASSERT_GT(controls::SaveRule(mainDb(), controls::ScopeOfRule(r), 0, r.texts), r.key);
         }},
        {"a rule of the form changed and one added",
         [](const QString &) {
             controls::RuleRecord r = aTableRuleOfF30();
             r.texts.commnt = "исправлено пользователем";
             controls::SaveRule(mainDb(), controls::ScopeOfRule(r), r.key, r.texts);
             r.texts.commnt = "добавлено пользователем";
             controls::SaveRule(mainDb(), controls::ScopeOfRule(r), 0, r.texts);
         }},
        {"a rule between forms naming the form added",
         [](const QString &) {
             db::exec(mainDb(), "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) values "
                                "(0, '', 'Ф30Т[1000]СТР[1]ГР[4]', '>=', 'Ф14Т[1000]СТР[1]ГР[4]', '', 'свой')");
         }},
        {"every rule of the form deleted",
         [](const QString &) { ctlfile::DeleteFormRules(mainDb(), formId("Ф30"), "Ф30"); }},
    };
    for (const Edit &e : edits) {
        SCOPED_TRACE(e.what);
        ServedSample s;
        // The user's rules differ from the published ones: one deleted, one comment changed.
        db::exec(mainDb(), "delete from int_control where \"Код\"=(select max(\"Код\") from int_control where formid=?)",
                 {formId("Ф30")});
        db::exec(mainDb(), "update int_control set commnt='своя редакция' where \"Код\"=(select min(\"Код\") "
                           "from int_control where formid=?)",
                 {formId("Ф30")});
        const QStringList before = storedRules();
        const QString exported = s.fx.root() + "Ф30 до обновления.orv";
        ctlfile::WriteControlFile(exported, ctlfile::ControlFileLinesForForm(mainDb(), formId("Ф30"), "Ф30"));
        {
            TUpdateManager m = s.manager();
            const auto list = m.CheckForUpdates();
            ASSERT_TRUE(list);
            ASSERT_TRUE(m.InstallUpdate(list->items[0])) << m.Message.toStdString();
        }
        ASSERT_NE(storedRules(), before);
        e.apply(exported);
        TUpdateManager m = s.manager();
        ASSERT_TRUE(m.RollbackUpdate("U1")) << m.Message.toStdString();
        EXPECT_EQ(storedRules(), before);
    }
}
