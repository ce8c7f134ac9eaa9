// Every path that stores a text which ends up in a code page 1251 file, run through the same hostile texts: a
// character 1251 cannot hold is refused with the character named and nothing stored; a Tab or a line break (also as the
// bytes 1 and 2 that records carry it as) is stored as a blank (or refused, in a name), never as itself. The source scans keep new storing statements behind the one gate
// and every program error inside the window handlers.
#include "controls/ControlFile.h"
#include "controls/ControlRules.h"
#include "engine/TextUtil.h"
#include "forms/shared/AdmFormLogic.h"
#include "forms/table/CalcRuleEditor.h"
#include "forms/structure/FormCatalogLogic.h"
#include "forms/structure/ImportDocLogic.h"
#include "forms/territory/MedTypesLogic.h"
#include "forms/structure/StructureEdit.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "reports/IndicatorData.h"
#include "reports/ReportLogic.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "support/SourceScan.h"
#include "updates/UpdateInstaller.h"
#include "support/Refusal.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <functional>

using namespace sample;
using namespace controls;

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }
QString stored(const QString &sql, const QVariantList &args = {}) { return db::scalar(mainDb(), sql, args).toString(); }

// A storing path: stores a text (a refusal throws or comes back as a message) and reads back what is stored.
struct Path {
    const char *name;
    std::function<QString(const QString &)> store;   // the refusal, empty when stored
    std::function<QString()> read;
    bool formula = false;     // a rule side or formula: the text around the character must stay a formula
    bool multiLine = false;   // titles, conditions, indicator cells: their files carry line breaks (as bytes 1 and 2)
    std::function<void()> reset = {};
};

qint64 firstRuleKey() { return db::scalar(mainDb(), "select min(\"Код\") from int_control where formid=1").toLongLong(); }

RuleScope scopeF30() {
    RuleScope s;
    s.ruleClass = IntraTable;
    s.formId = ids::FormF30;
    s.formName = "Ф30";
    s.table = "(1000)";
    return s;
}

QList<Path> paths(SampleFixture &fx) {
    const QString file = fx.root() + "entry.txt";
    auto ruleLine = [](const QString &t) {
        return QStringLiteral("\"Ф30\",\"(1000)\",\"СТР1ГР4\",\">=\",\"СТР2ГР4\",\"\",\"%1\"").arg(t);
    };
    return {
        {"контроль: ввод", [](const QString &t) {
             return refusal([&] { SaveRule(mainDb(), scopeF30(), firstRuleKey(), {"СТР1ГР4", ">=", "СТР2ГР4", "", t}); });
         },
         [] { return ReadRule(mainDb(), firstRuleKey())->texts.commnt; }},
        {"контроль: ввод левой части", [](const QString &t) {
             return refusal([&] {
                 SaveRule(mainDb(), scopeF30(), firstRuleKey(), {"СТР1ГР4+" + t + "СТР3ГР4", ">=", "СТР2ГР4", "", "к"});
             });
         },
         [] { return ReadRule(mainDb(), firstRuleKey())->texts.lft; }, true},
        {"контроль: Заменить", [](const QString &t) {
             QStringList refused;
             ReplaceInRules(mainDb(), {firstRuleKey()}, ReplaceEverywhere, "ГР4", "ГР4+" + t + "СТР3ГР4", nullptr,
                            &refused);
             return refused.join(u'\n');
         },
         [] { return ReadRule(mainDb(), firstRuleKey())->texts.lft; }, true},
        {"файл контролей", [=](const QString &t) {
             if (!cp1251::writeLines(file, {ruleLine(t)})) return QStringLiteral("не записан");
             return refusal([&] { LoadControlFile(mainDb(), file, LoadMode::Replace); });
         },
         [] { return stored("select group_concat(commnt, '|') from int_control where formid=1"); }},
        {"контроли обновления", [=](const QString &t) {
             if (!cp1251::writeLines(file, {ruleLine(t)})) return QStringLiteral("не записан");
             return InsertControlLines(mainDb(), file) ? QString() : QStringLiteral("отказ");
         },
         [] { return stored("select group_concat(commnt, '|') from int_control"); }},
        {"содержание формы: строка формы обновления", [=](const QString &t) {
             if (!cp1251::writeLines(file, {"Ф30#Сведения" + t + "#Нет"})) return QStringLiteral("не записан");
             return InstallFormHeader(mainDb(), file, "Ф30") ? QString() : QStringLiteral("отказ");
         },
         [] { return stored("select decipher from forms where id=?", {ids::FormF30}); }},
        {"наименование формы", [](const QString &t) {
             return refusal([&] { catalog::updateForm(ids::FormF30, "Ф30" + t, "Сведения", false); });
         },
         [] { return stored("select formname from forms where id=?", {ids::FormF30}); }},
        {"содержание формы", [](const QString &t) {
             return refusal([&] { catalog::updateForm(ids::FormF30, "Ф30", "Сведения" + t, false); });
         },
         [] { return stored("select decipher from forms where id=?", {ids::FormF30}); }},
        {"номер и содержание таблицы", [](const QString &t) {
             return refusal([&] { catalog::updateTable(ids::TableF30Staff, "(1000" + t + ")", "Штаты" + t, false, 0); });
         },
         [] { return stored("select tablen || name from tables where ident=?", {ids::TableF30Staff}); }},
        {"заголовок таблицы", [](const QString &t) {
             structedit::TitleContent c{"Arial", 10, false, false, "CC00", "Всего" + t};
             return refusal([&] { structedit::saveTitle(mainDb(), ids::TableF30Staff, 1, 1, c, 0, QString()); });
         },
         [] { return stored("select txt from titles where \"table\"=? and \"column\"=1 and \"row\"=1", {ids::TableF30Staff}); },
         false, true},
        {"импорт из Word", [](const QString &t) {
             importdoc::DocStructure s;
             s.resize(2, 2);
             for (int r = 1; r <= 2; ++r)
                 for (int c = 1; c <= 2; ++c) s.at(r, c) = {true, QStringLiteral("Ячейка") + t, c, r, c, r};
             return refusal([&] { importdoc::UpdateTableStructure(ids::TableF30Visits, s, 1, 1); });
         },
         [] { return stored("select group_concat(txt, '|') from titles where \"table\"=?", {ids::TableF30Visits}); },
         false, true},
        {"формула расчета", [](const QString &t) {
             calcrule::RulePlace place;
             place.kind = calcrule::RuleKind::Cell;
             place.row = 2, place.column = 2;
             calcrule::RuleFields f;
             f.formula = "Ф14Т(1000)СТР1ГР5+" + t + "Ф14Т(1000)СТР1ГР6";
             f.condition = "Ф30Т(1000)СТР1ГР4>0" + t;
             f.types = "*";
             if (const QString why = calcrule::fieldsProblem(f); !why.isEmpty()) return why;
             return refusal([&] {
                 calcrule::SaveCalcRule(ids::TableF47Network, place, f);
             });
         },
         [] { return stored("select formula || '|' || condition from conditions where tid=? and \"row\"=2 and \"column\"=2", {ids::TableF47Network}); },
         true, true},
        {"набор показателей", [](const QString &t) {
             return refusal([&] { indicators::RenameSet(ids::SetHealth, "Здоровье" + t); });
         },
         [] { return stored("select part from tree where ident=?", {ids::SetHealth}); }},
        {"ячейка показателей", [](const QString &t) {
             return refusal([&] { indicators::StoreGridCell(ids::SetHealth, 1, 1, "Всего" + t, 64, 20); });
         },
         [] { return stored("select formula from formulas where term=? and \"row\"=1 and \"column\"=1", {ids::SetHealth}); },
         false, true},
        {"показатели: Заменить", [](const QString &t) {
             return refusal([&] { indicators::ReplaceInFormulas(ids::SetHealth, "Всего", "Итого" + t, 3, 1, 1, 1, 1); });
         },
         [] { return stored("select formula from formulas where term=? and \"row\"=1 and \"column\"=1", {ids::SetHealth}); },
         false, true, [] { indicators::StoreGridCell(ids::SetHealth, 1, 1, "Всего", 64, 20); }},
        {"подразделение", [](const QString &t) {
             if (const QString why = adm::checkUnit({"Больница" + t, -1, false}); !why.isEmpty()) return why;
             return refusal([&] { adm::saveUnit(ids::NorthHospital, {"Больница" + t, 1, false}, std::nullopt, 2024); });
         },
         [] { return stored("select unit from administration where id=?", {ids::NorthHospital}); }},
        {"тип учреждения", [](const QString &t) {
             return refusal([&] { medtypes::renameType(1, "Больницы" + t); });
         },
         [] { return stored("select type from medicaltypes where id=1"); }},
        {"сводный отчет", [](const QString &t) {
             return refusal([&] { reports::renameReport(ids::ReportRegion, "Район" + t, false); });
         },
         [] { return stored("select report from reports where id=?", {ids::ReportRegion}); }},
    };
}

} // namespace

TEST(TextEntry, EveryStoringPathRefusesOrBlanksTheTexts) {
    SampleFixture fx;
    FakeDialogs dialogs;
    fx.reloadCaches();
    struct Hostile { QString text; const char *named; };
    // U+FEFF comes with text copied from web pages; a lone half of a surrogate pair with text cut in the middle.
    const Hostile hostile[] = {{"×", "×"}, {"м²", "²"}, {"α", "α"}, {"😀", "😀"}, {"\u2212", "\u2212"},
                               {QString(QChar(0xFEFF)), "U+FEFF"}, {QString(QChar(0xD83D)), "U+D83D"},
                               {QString(QChar(0xDE00)) + "х", "U+DE00"},
                               {"\t", nullptr}, {"\n", nullptr}, {"\r\n", nullptr},
                               // How records carry LF and CR: in a one-line text they are line breaks as well.
                               {QString(QChar(1)), nullptr}, {QString(QChar(2)) + QChar(1), nullptr}};
    for (const Path &p : paths(fx)) {
        SCOPED_TRACE(p.name);
        // The path stores a plain text.
        ASSERT_EQ(p.store("").toStdString(), "");
        for (const Hostile &h : hostile) {
            SCOPED_TRACE(h.text.toStdString());
            if (p.reset) p.reset();
            const QString before = p.read();
            const QString why = p.store(h.text);
            const QString after = p.read();
            if (h.named) {
                // Refused with the character named, nothing stored. (A file line cannot carry it in 1251.)
                EXPECT_TRUE(why.contains(QString::fromUtf8(h.named)) || QString(p.name).contains("файл") ||
                            QString(p.name).contains("обновления"))
                    << why.toStdString();
                EXPECT_FALSE(after.contains(h.text)) << after.toStdString();
                if (!QString(p.name).contains("файл") && !QString(p.name).contains("обновления")) EXPECT_EQ(after, before);
                continue;
            }
            // A formula (its part before the "|" of the read-back) never keeps a Tab or a line break.
            const QString formula = p.multiLine && !p.formula ? QString() : after.section(u'|', 0, 0);
            EXPECT_FALSE(after.contains(u'\t') || formula.contains(u'\n') || formula.contains(u'\r'))
                << after.toStdString();
            if (!p.multiLine) EXPECT_FALSE(after.contains(u'\n') || after.contains(u'\r')) << after.toStdString();
            if (!p.multiLine) EXPECT_FALSE(after.contains(QChar(1)) || after.contains(QChar(2))) << after.toStdString();
            // Stored, then as a blank: a formula keeps both sides apart.
            if (why.isEmpty() && p.formula) EXPECT_TRUE(formula.contains(' ')) << after.toStdString();
        }
    }
}

// "1", line break, "0" in a rule side is "1 0", refused, never joined into "10".
TEST(TextEntry, LineBreakInARuleSideIsABlank) {
    SampleFixture fx;
    FakeDialogs dialogs;
    fx.reloadCaches();
    const qint64 key = firstRuleKey();
    const RuleRecord before = *ReadRule(mainDb(), key);
    EXPECT_ANY_THROW(SaveRule(mainDb(), scopeF30(), key, {"СТР1ГР4", ">=", "1\n0", "", "к"}));
    EXPECT_EQ(ReadRule(mainDb(), key)->texts.rght, before.texts.rght);
    SaveRule(mainDb(), scopeF30(), key, {"\r\nСТР1ГР4\t", ">=", "10\n", "", "к"});
    EXPECT_EQ(ReadRule(mainDb(), key)->texts.lft, "СТР1ГР4");
    EXPECT_EQ(ReadRule(mainDb(), key)->texts.rght, "10");
    EXPECT_EQ(text::entry("1\r\n0", text::Field::Formula), "1 0");
}

// Every statement that stores a text into a table whose texts go to a 1251 file (or come back from one) is in a file
// that passes them through the gate (text::entry, or the catalogue and rule gates that call it). A new one elsewhere
// fails here: it has to pass the gate and be counted below.
TEST(TextEntry, NoTextIsStoredPastTheGate) {
    const QMap<QString, int> allowed = {
        {"engine/CatalogGate.cpp", 10},    // forms and tables: names, numbers, texts through typedName/typedText; sizes
        {"engine/RuleCheck.cpp", 3},       // rules: enterTexts
        {"engine/CatalogRename.cpp", 1},   // a rule's table renamed: the number as the gate took it, text::entry
        {"forms/shared/AdmFormLogic.cpp", 2},     // units: text::entry
        {"forms/territory/MedTypesLogic.cpp", 1},    // type names: text::entry
        {"forms/structure/ImportDocLogic.cpp", 1},   // Word import titles: text::entry
        {"forms/structure/FormCatalogLogic.cpp", 1}, // structure file titles: text::entry
        {"forms/structure/StructureEdit.cpp", 2},    // title editor: text::entry; new titles: a blank
        {"forms/table/CalcRuleEditor.cpp", 2},   // formula and condition: text::entry
        {"forms/shared/FormListLogic.cpp", 1},    // .cnd import: text::entry
        {"reports/IndicatorData.cpp", 23}, // sets, cells, corner, identifiers, replace, set files: text::entry; new rows: constants
        {"reports/ReportLogic.cpp", 2},    // report names: text::entry
        {"app/SubReports.cpp", 1},         // sub-report level names: text::entry
        {"controls/ZenkorTable.cpp", 1},   // control book lines: text::entry
        {"controls/ZenkorDescribe.cpp", 1},// control book comments: text::entry
    };
    static const QRegularExpression storing(
        QStringLiteral(R"re((insert\s+into|update)\s+"?(forms|tables|titles|int_control|conditions|tree|col_titles|)re"
                       R"re(row_titles|formulas|administration|medicaltypes|reports|subreps|zenkor_controls)"?\s*)re"
                       R"re((\(|values|set\s+(?!ind\b|net\b|include\b|width|height|\\"?row\\"?\s*=|\\"?column\\"?\s*=|)re"
                       R"re(union_|%1|dependence\b)))re"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList faults;
    for (const auto &[rel, source] : productSources().asKeyValueRange()) {
        const int found = int(source.count(storing));
        if (found > allowed.value(rel, 0))
            faults << rel + QStringLiteral(": %1 text-storing statements, %2 counted").arg(found).arg(allowed.value(rel, 0));
        if (found > 0 && !source.contains("text::entry"))
            faults << rel + QStringLiteral(": stores texts without text::entry");
    }
    EXPECT_TRUE(faults.isEmpty()) << faults.join(u'\n').toStdString();
}

// A program error (a refused text is an EngineError) never leaves a window's handler: the window files catch AppError,
// the base of every program error, or run the handler through winutil::guarded; none catches only db::Error.
TEST(TextEntry, WindowHandlersCatchEveryProgramError) {
    QStringList faults;
    for (const auto &[rel, source] : productSources().asKeyValueRange()) {
        if (!rel.endsWith(".cpp") || rel.startsWith("platform/") || rel.startsWith("engine/")) continue;
        const QString header = sourceText(QString(rel).replace(".cpp", ".h"));
        if (!header.contains("Q_OBJECT")) continue;
        if (source.contains("catch (const db::Error")) faults << rel;
    }
    // The start-up's own handling of its databases is not a window handler.
    faults.removeAll("app/Configuration.cpp");
    EXPECT_TRUE(faults.isEmpty()) << faults.join(u'\n').toStdString();
}
