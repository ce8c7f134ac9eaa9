#include "engine/ControlFileLines.h"
#include "engine/FormStructureFile.h"
#include "forms/structure/FormCatalogLogic.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/Files.h"
#include "support/QueryRows.h"
#include "support/ChildProcess.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "support/WindowTestBase.h"
#include "updates/UpdateExporter.h"
#include "updates/UpdateGenerator.h"
#include "updates/UpdateInstaller.h"
#include "updates/UpdateLists.h"
#include "updates/UpdateSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace sample::ids;

namespace {

QStringList lines(const QString &path) {
    QStringList l;
    cp1251::readLines(path, l);
    return l;
}

QSqlDatabase mainDb() { return db::connection(db::kMain); }

QString decipher(const QString &form) {
    return db::scalar(mainDb(), "select decipher from forms where formname=?", {form}).toString();
}

int ruleCount() { return db::scalar(mainDb(), "select count(*) from int_control").toInt(); }

QStringList ruleTexts() {
    return queryRows(mainDb(), "select formid, tble, lft, reltion, rght, cycl, commnt from int_control "
                               "order by formid, lft, rght");
}

// Every rule as stored: key, form, table (NULL told from empty), both sides, relation, cycle, comment.
QStringList storedRules() {
    return queryRows(mainDb(), "select \"Код\", formid, quote(tble), lft, reltion, rght, cycl, commnt "
                               "from int_control order by \"Код\"");
}

void writeText(const QString &path, const QStringList &l) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(cp1251::writeLines(path, l));
}

// A package of the sample's Ф30 and Ф14 (structure, rules, print files), unpacked into <root>/unpacked.
struct Package { QString archive, unpacked, manifest; };

Package makePackage(SampleFixture &fx, const QStringList &names) {
    QList<FormPackageOptions> opts;
    for (const QString &n : names) opts << FormPackageOptions{n, true, true, true, "1.0.0", "2.0.0"};
    Package p;
    p.archive = GenerateUpdatePackage(mainDb(), names, opts, {}, "", "", fx.root() + "Updates", "d", fx.year(), "1.0");
    p.unpacked = fx.root() + "unpacked/";
    EXPECT_TRUE(ExtractZipArchive(p.archive, p.unpacked));
    p.manifest = p.unpacked + "update_manifest.json";
    return p;
}

using UpdateExport = SampleTest;
using UpdateInstall = SampleTest;

// The user's copy drifted from the published one: a description, two rules and the print file of Ф30 differ.
void drift(const QString &print) {
    db::exec(mainDb(), "update forms set decipher='изменено'");
    db::exec(mainDb(), "delete from int_control where \"Код\" in (1, 7)");
    writeText(print, {"свой"});
}

} // namespace

TEST_F(UpdateExport, PackageStructureFileIsTheCatalogueExportByteForByte) {
    // Texts the two writers once wrote differently: a quote and a Tab in a title, a height stored as text with a
    // decimal comma, a title with empty number fields.
    db::exec(mainDb(), "update titles set txt=? where \"table\"=2 and \"row\"=1 and \"column\"=1",
             {QString("Всего \"врачей\"\tв т.ч. Ёлкино")});
    db::exec(mainDb(), "update tables set name=? where ident=2", {QString("Посещения \"амбулаторные\"")});
    db::exec(mainDb(), "update \"rows\" set height='12,5' where \"table\"=2 and \"row\"=1");
    db::exec(mainDb(), "insert into titles (\"table\", \"column\", \"row\", txt) values (2, 7, 30, 'итог')");
    const Package p = makePackage(fx, {"Ф30"});
    const QString catalogue = fx.root() + "catalogue.frs";
    catalog::exportForm(FormF30, catalogue);
    const QByteArray bytes = fileBytes(p.unpacked + "Ф30/Ф30.frs");
    EXPECT_EQ(bytes, fileBytes(catalogue));
    EXPECT_TRUE(bytes.contains(cp1251::encode(QString("\"врачей\"\tв т.ч. Ёлкино"))));
    EXPECT_TRUE(bytes.contains("12.5\r\n"));

    // No form there: an empty file and false; no database: nothing.
    const QString f = fx.root() + "none.frs";
    EXPECT_FALSE(ExportFormStructure(mainDb(), 999, f));
    EXPECT_TRUE(QFile::exists(f));
    EXPECT_TRUE(lines(f).isEmpty());
    EXPECT_FALSE(ExportFormStructure(QSqlDatabase(), FormF30, fx.root() + "closed.frs"));
    EXPECT_FALSE(QFile::exists(fx.root() + "closed.frs"));
}

TEST_F(UpdateInstall, ControlFilesAreTakenWholeOrNotAtAll) {
    const QString f = fx.root() + "c.orv";
    db::exec(mainDb(), "delete from int_control");
    // Rules the check refuses are not installed (the log names them).
    writeText(f, {"\"Ф30\",\"(1000)\",\"СТР[1]\",\">=\",\"СТР[2]\",\"ГР[4]\",\"к \"\"цитата\"\"\"",
                  "\"Ф14\",\"\",\"Т[1000]СТР1ГР4\",\"=\",\"Т[1000]СТР2ГР4\",\"\",\"\"", "",
                  "\"\",\"\",\"Ф30Т[1000]СТР[1]ГР[4]\",\"=\",\"Ф14Т[1000]СТР[1]ГР[4]\",\"\",\"c\"",
                  "\"Ф30\",\"(1000)\",\"СТР1ГР4\",\"<>=\",\"0\",\"\",\"отношение\"",
                  "\"Ф30\",\"(1000)\",\"СТР[1]+-*\",\"=\",\"0\",\"\",\"знаки\"",
                  "\"Ф30\",\"\",\"Т[1000]СТР1\",\"=\",\"Т[1000]СТР2\",\"ГР[[[\",\"скобки\"",
                  "\"Ф30\",\"(1000)\",\"СТР[6]ГР4\",\"=\",\"0\",\"\",\"вне таблицы\""});
    ASSERT_TRUE(InsertControlLines(mainDb(), f));
    EXPECT_EQ(ruleTexts(), (QStringList{"0||Ф30Т[1000]СТР[1]ГР[4]|=|Ф14Т[1000]СТР[1]ГР[4]||c",
                                        "1|(1000)|СТР[1]|>=|СТР[2]|ГР[4]|к \"цитата\"",
                                        "2||Т[1000]СТР1ГР4|=|Т[1000]СТР2ГР4||"}));
    EXPECT_TRUE(db::scalar(mainDb(), "select tble from int_control where formid=2").isNull());

    // One line that is not seven quoted fields, or whose form is not here (its intra-table references could never be
    // completed), refuses the whole file; the installation keeps the form's rules as they were.
    const QString good = "\"Ф30\",\"(1000)\",\"a\",\"=\",\"b\",\"\",\"c\"";
    for (const QString &bad : {QString("\"Ф30\",\"(1000)\",\"a\",\"=\",\"b\",\"c\""), QString("not a rule line"),
                               QString("Ф30;(1000);a;=;b;;c"), QString("\"Нет такой\",\"(1)\",\"СТР1ГР4\",\"=\",\"СТР2ГР4\",\"\",\"c\"")}) {
        writeText(f, {good, bad});
        EXPECT_FALSE(InsertControlLines(mainDb(), f)) << bad.toStdString();
        EXPECT_FALSE(InstallFormControls(mainDb(), "Ф30", f, 1)) << bad.toStdString();
        EXPECT_EQ(ruleCount(), 3);
    }
    EXPECT_FALSE(InsertControlLines(mainDb(), fx.root() + "missing.orv"));

    // One rule of the form refused by the check: the form's rules stay as
    // they were, and the log says why, not that the file holds another
    // form's rules.
    InitUpdateLogger(fx.root());
    writeText(f, {"\"Ф30\",\"(1000)\",\"СТР[1]ГР[4]\",\"=\",\"0\",\"\",\"c\"",
                  "\"Ф30\",\"(1000)\",\"СТР[6]ГР4\",\"=\",\"0\",\"\",\"вне таблицы\""});
    EXPECT_FALSE(InstallFormControls(mainDb(), "Ф30", f, 1));
    EXPECT_EQ(ruleCount(), 3);
    QStringList log;
    cp1251::readLines(UpdateLogFileName(), log);
    CloseUpdateLogger();
    const QString logged = log.join('\n');
    EXPECT_TRUE(logged.contains(QStringLiteral("Контроль не установлен: Левая часть: Строка № 6 вне рабочей области")))
        << logged.toStdString();
    EXPECT_TRUE(logged.contains(QStringLiteral("Контроли формы Ф30 не установлены: правил, не прошедших проверку, — 1")))
        << logged.toStdString();
    EXPECT_FALSE(logged.contains(QStringLiteral("не относящиеся"))) << logged.toStdString();

    // The form line is taken only when its fields can be told apart; its flag
    // is "Да"/"Нет" or "True"/"False", each by its meaning.
    struct Case { const char *line; bool taken; bool net; };
    for (const Case &c : {Case{"Ф30#Новое \"имя\"#Нет", true, false}, Case{"Ф30#x#Да", true, true},
                          Case{"Ф30#опись #1#Нет", false, false}, Case{"Ф30#x#True", true, true},
                          Case{"Ф30#x#False", true, false}, Case{"Ф30#x#false", false, false}, Case{"Ф30", false, false},
                          Case{"#x#Нет", false, false}}) {
        const auto h = ParseFormHeaderLine(QString::fromUtf8(c.line));
        EXPECT_EQ(h.has_value(), c.taken) << c.line;
        if (h && c.taken) EXPECT_EQ(h->net, c.net) << c.line;
    }
    const QString frs = fx.root() + "h.frs";
    writeText(frs, {"Ф30#Новое \"имя\"#Нет", "(1000)#ignored#1#1#0#0#False#0"});
    ASSERT_TRUE(InstallFormHeader(mainDb(), frs));
    EXPECT_EQ(decipher("Ф30"), "Новое \"имя\"");
    writeText(frs, {"Ф30#Сеть#True"});
    ASSERT_TRUE(InstallFormHeader(mainDb(), frs));
    EXPECT_EQ(db::scalar(mainDb(), "select net from forms where formname='Ф30'").toBool(), true);
    writeText(frs, {"Ф30#Новое \"имя\"#False"});
    ASSERT_TRUE(InstallFormHeader(mainDb(), frs));
    EXPECT_EQ(db::scalar(mainDb(), "select net from forms where formname='Ф30'").toBool(), false);
    writeText(frs, {"Ф30#опись #1#Нет"});
    EXPECT_FALSE(InstallFormHeader(mainDb(), frs));
    EXPECT_EQ(decipher("Ф30"), "Новое \"имя\"");
    EXPECT_FALSE(InstallFormHeader(mainDb(), fx.root() + "none.frs"));

    // A ":" of the description travels as byte 3 and comes back as ":", however often the form is installed or rolled
    // back; a file in another encoding is not installed.
    db::exec(mainDb(), "update forms set decipher=? where formname=?", {"Штаты: врачи", "Ф30"});
    frs::writeFile(frs, frs::formLines(mainDb(), ReadFormIdByName(mainDb(), "Ф30")));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(InstallFormHeader(mainDb(), frs, "Ф30"));
        EXPECT_EQ(decipher("Ф30"), "Штаты: врачи");
    }
    ASSERT_TRUE(cp1251::writeFile(frs, QStringLiteral("Ф30#Другое#Да\r\n").toUtf8()));
    EXPECT_FALSE(InstallFormHeader(mainDb(), frs, "Ф30"));
    EXPECT_EQ(decipher("Ф30"), "Штаты: врачи");
}

TEST_F(UpdateInstall, PackageInstallsBacksUpAndRollsBack) {
    const QString print = fx.yearFolder() + "forms/Ф30.txt";
    const QStringList originalPrint = lines(print);
    const QStringList originalRules = ruleTexts();
    const Package p = makePackage(fx, {"Ф30", "Ф14"});
    ASSERT_FALSE(p.archive.isEmpty());

    drift(print);
    const QStringList drifted = ruleTexts();

    const QString backup = fx.root() + "Backup/2024/U1";
    ASSERT_EQ(InstallUpdateComponents(mainDb(), p.unpacked, p.manifest, "U1", fx.year(), backup), InstallAll);
    EXPECT_EQ(decipher("Ф30"), "Сведения о медицинской организации");
    EXPECT_EQ(ruleTexts(), originalRules);
    EXPECT_EQ(lines(print), originalPrint);
    EXPECT_EQ(db::scalar(mainDb(), "select form_version || '/' || controls_version from installed_form_versions "
                                   "where form_name='Ф30'").toString(), "1.0.0/2.0.0");
    EXPECT_EQ(lines(backup + "/forms_backup/Ф30.frs").value(0), "Ф30#изменено#Нет");
    EXPECT_TRUE(QFile::exists(backup + "/controls_backup/controls_Ф14.orv"));
    EXPECT_EQ(lines(backup + "/print_files_backup/Ф30/Ф30.txt"), QStringList{"свой"});

    ASSERT_TRUE(RollbackUpdateFromBackup(mainDb(), backup, "U1"));
    EXPECT_EQ(decipher("Ф30"), "изменено");
    EXPECT_EQ(ruleTexts(), drifted);
    EXPECT_EQ(lines(print), QStringList{"свой"});
    EXPECT_FALSE(RollbackUpdateFromBackup(mainDb(), fx.root() + "Backup/2024/none", "X"));
}

TEST_F(UpdateInstall, AnUnreadablePartLeavesNothingOfTheUpdate) {
    const QString print = fx.yearFolder() + "forms/Ф30.txt";
    const Package p = makePackage(fx, {"Ф30", "Ф14"});
    drift(print);
    // Stored texts a delete and re-insert would not keep: an empty table field, a ":" in a comment.
    db::exec(mainDb(), "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) "
                       "values (1, '', 'СТР[1]', '=', 'СТР[2]', '', 'итог: строки 1:2')");
    const QStringList rules = storedRules();
    const QString backup = fx.root() + "Backup/2024/U2";

    // Each spoils the second entry only: the first one is not kept either,
    // and nothing is rolled back (the rules keep their keys).
    const std::pair<const char *, std::function<void()>> spoils[] = {
        {"rule file in another format", [&] { writeText(p.unpacked + "Ф14/controls_Ф14.orv", {"Ф14;;Т[1];=;Т[2];;"}); }},
        {"rule file of unreadable lines", [&] { writeText(p.unpacked + "Ф14/controls_Ф14.orv", {"\"Ф14\",\"\",\"x\""}); }},
        {"form line with a # inside", [&] { writeText(p.unpacked + "Ф14/Ф14.frs", {"Ф14#часть#1#Нет"}); }},
        {"structure file of another form", [&] { writeText(p.unpacked + "Ф14/Ф14.frs", {"Ф30#чужая#Нет"}); }},
        {"structure file missing", [&] { QFile::remove(p.unpacked + "Ф14/Ф14.frs"); }},
        {"rule of another form", [&] { writeText(p.unpacked + "Ф14/controls_Ф14.orv",
                                                 {"\"Ф30\",\"(1000)\",\"СТР[1]\",\"=\",\"СТР[2]\",\"\",\"c\""}); }},
        {"rule between forms naming neither", [&] { writeText(p.unpacked + "Ф14/controls_Ф14.orv",
                                                 {"\"\",\"\",\"Ф30Т[1000]СТР[1]ГР[4]\",\"=\",\"Ф99Т[1]СТР[1]ГР[1]\",\"\",\"c\""}); }},
    };
    for (const auto &[what, spoil] : spoils) {
        ASSERT_TRUE(ExtractZipArchive(p.archive, p.unpacked));
        spoil();
        InstallReport report;
        EXPECT_EQ(InstallUpdateComponents(mainDb(), p.unpacked, p.manifest, "U2", fx.year(), backup, {}, &report),
                  InstallNone) << what;
        EXPECT_FALSE(report.committed) << what;
        EXPECT_TRUE(report.reason.contains("Ф14")) << what;
        EXPECT_EQ(decipher("Ф30"), "изменено") << what;
        EXPECT_EQ(storedRules(), rules) << what;
        EXPECT_EQ(lines(print), QStringList{"свой"}) << what;
        EXPECT_EQ(db::scalar(mainDb(), "select count(*) from installed_form_versions").toInt(), 0) << what;
    }

    QFile::remove(p.unpacked + "Ф30/Ф30.frs");
    EXPECT_EQ(InstallUpdateComponents(mainDb(), p.unpacked, p.manifest, "U2", fx.year(), backup), InstallNone);
    EXPECT_EQ(InstallUpdateComponents(mainDb(), p.unpacked, p.unpacked + "none.json", "U2", fx.year(), backup),
              InstallNone);
    writeText(p.manifest, {"{\"year\": \"2024\", \"forms\": []}"});
    EXPECT_EQ(InstallUpdateComponents(mainDb(), p.unpacked, p.manifest, "U2", fx.year(), backup), InstallNone);
    writeText(p.manifest, {"{\"version\": \"1\", \"year\": \"2024\"}"});   // no forms array
    EXPECT_EQ(InstallUpdateComponents(mainDb(), p.unpacked, p.manifest, "U2", fx.year(), backup), InstallNone);
    // A manifest that lists no form installs nothing: refused, naming the field, rather than reported installed.
    writeText(p.manifest, {"{\"version\": \"1\", \"year\": \"2024\", \"forms\": []}"});
    InstallReport empty;
    EXPECT_EQ(InstallUpdateComponents(mainDb(), p.unpacked, p.manifest, "U2", fx.year(), backup, {}, &empty), InstallNone);
    EXPECT_EQ(empty.reason, "Манифест пакета обновления не принят: список форм (поле \"forms\") пуст.");
}

TEST_F(UpdateInstall, AKillBeforeTheCommitLeavesDatabaseAndPrintFilesAsBefore) {
    const QString print = fx.yearFolder() + "forms/Ф30.txt";
    const Package p = makePackage(fx, {"Ф30", "Ф14"});
    drift(print);
    const QStringList rules = ruleTexts();
    const QString backup = fx.root() + "Backup/2024/K";

    const ChildEnd end = runInChild([&] {
        InstallUpdateComponents(mainDb(), p.unpacked, p.manifest, "K", fx.year(), backup, [] { raise(SIGKILL); });
    });
    ASSERT_TRUE(end.killed);
    EXPECT_EQ(end.code, SIGKILL);
    EXPECT_EQ(decipher("Ф30"), "изменено");
    EXPECT_EQ(ruleTexts(), rules);
    EXPECT_EQ(lines(print), QStringList{"свой"});
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from installed_form_versions").toInt(), 0);

    // The next run goes through and leaves no staged files behind.
    ASSERT_EQ(InstallUpdateComponents(mainDb(), p.unpacked, p.manifest, "K", fx.year(), backup), InstallAll);
    EXPECT_NE(lines(print), QStringList{"свой"});
    EXPECT_EQ(decipher("Ф30"), "Сведения о медицинской организации");
    EXPECT_EQ(QDir(fx.yearFolder() + "forms").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).filter("staging"),
              QStringList());
}

TEST_F(UpdateInstall, OnlyWhatTheManifestNamesIsUnpacked) {
    const Package p = makePackage(fx, {"Ф30"});
    const QString src = fx.root() + "src/";
    ASSERT_TRUE(ExtractZipArchive(p.archive, src));
    writeText(src + "junk/big.txt", QStringList(2000, QString(100, 'x')));
    writeText(src + "Ф30/Forms/Ф14.txt", {"чужой"});
    ASSERT_TRUE(CreateZipArchive(src, fx.root() + "junk.zip"));
    const QString out = fx.root() + "out/";
    QString why;
    ASSERT_TRUE(ExtractUpdatePackage(fx.root() + "junk.zip", out, &why)) << why.toStdString();
    EXPECT_TRUE(QFile::exists(out + "update_manifest.json"));
    EXPECT_TRUE(QFile::exists(out + "Ф30/Ф30.frs"));
    EXPECT_TRUE(QFile::exists(out + "Ф30/controls_Ф30.orv"));
    EXPECT_FALSE(QDir(out + "junk").exists());
    EXPECT_FALSE(QFile::exists(out + "Ф30/Forms/Ф14.txt"));
    // The forms of an update, also from a backup made before versions were kept.
    const QString old = fx.root() + "oldbackup/";
    writeText(old + "forms_backup/Ф30.frs", {"Ф30#x#Нет"});
    writeText(old + "controls_backup/controls_Ф14.orv", {});
    EXPECT_EQ(UpdateFormsOfBackup(old), (QStringList{"Ф30", "Ф14"}));
}

TEST_F(UpdateInstall, ANewFormIsInsertedAndLeftAloneByTheRollback) {
    const QString dir = fx.root() + "new/";
    writeText(dir + "Ф99/Ф99.frs", {"Ф99#Новая форма#Нет"});
    writeText(dir + "update_manifest.json",
              {"{\"version\": \"1\", \"year\": \"2024\", \"forms\": [{\"formName\": \"Ф99\", "
               "\"formFile\": \"Ф99\\/Ф99.frs\"}]}"});
    const QString backup = fx.root() + "Backup/2024/N";
    QDir().mkpath(backup);   // the update manager makes it before installing
    ASSERT_EQ(InstallUpdateComponents(mainDb(), dir, dir + "update_manifest.json", "N", fx.year(), backup), InstallAll);
    EXPECT_EQ(decipher("Ф99"), "Новая форма");
    EXPECT_FALSE(QDir(backup + "/forms_backup").exists());
    ASSERT_TRUE(RollbackUpdateFromBackup(mainDb(), backup, "N"));
    EXPECT_EQ(decipher("Ф99"), "Новая форма");
}

TEST_F(UpdateInstall, NamesLeavingTheirFoldersAreRefused) {
    const QString dir = fx.root() + "evil/";
    const QString forms = fx.yearFolder() + "forms/";
    writeText(forms + "Ф14.txt", {"шаблон Ф14"});
    writeText(dir + "Ф30/Forms/Ф14.txt", {"подмена"});
    writeText(dir + "Ф30/Forms/Ф30.txt", {"новый Ф30"});
    writeText(fx.root() + "x/Ф30.frs", {"x#Не та форма#Нет"});
    writeText(dir + "update_manifest.json",
              {"{\"version\": \"1\", \"year\": \"2024\", \"forms\": [",
               "{\"formName\": \"Ф30\", \"printFiles\": [\"Ф30\\/Forms\\/Ф14.txt\", \"Ф30\\/Forms\\/Ф30.txt\"]}]}"});
    const QString backup = fx.root() + "Backup/2024/E";
    // Another form's print file is not taken along with this form's own.
    ASSERT_EQ(InstallUpdateComponents(mainDb(), dir, dir + "update_manifest.json", "E", fx.year(), backup), InstallAll);
    EXPECT_EQ(lines(forms + "Ф14.txt"), QStringList{"шаблон Ф14"});
    EXPECT_EQ(lines(forms + "Ф30.txt"), QStringList{"новый Ф30"});

    // A form name with a path in it fails its entry and changes nothing.
    writeText(dir + "update_manifest.json",
              {"{\"version\": \"1\", \"year\": \"2024\", \"forms\": [",
               "{\"formName\": \"..\\/x\", \"formFile\": \"Ф30.frs\"}]}"});
    EXPECT_EQ(InstallUpdateComponents(mainDb(), dir, dir + "update_manifest.json", "E", fx.year(), backup), InstallNone);
    EXPECT_EQ(ReadFormIdByName(mainDb(), "x"), -1);
    EXPECT_FALSE(IsSafeFileName(""));
    EXPECT_FALSE(IsSafeFileName(".."));
    EXPECT_FALSE(IsSafeFileName("a\\b"));
    EXPECT_TRUE(IsSafeFileName("U-2025.1"));
}

// The form name of an id, and the file of every rule ordered by table (a null one first), left and right side.
TEST_F(UpdateExport, FormNameByIdAndAllRulesByTable) {
    EXPECT_EQ(ReadFormNameById(mainDb(), FormF30), "Ф30");
    EXPECT_EQ(ReadFormNameById(mainDb(), 999), "");
    EXPECT_EQ(ReadFormNameById(QSqlDatabase(), FormF30), "");
    const QString file = fx.root() + "all.orv";
    ASSERT_TRUE(ExportGlobalControls(mainDb(), file));
    QStringList comments;
    for (const QString &line : lines(file)) {
        const auto r = ctlfile::ParseControlLine(line);
        ASSERT_TRUE(r) << line.toStdString();
        comments << r->commnt;
    }
    QStringList expected;
    for (const int key : {RuleRuralVisits, RuleVisitsVsPositions, RuleDischargedVsVisits, RuleWomenByRow,
                          RuleDoctorsByColumn, RulePatientsByColumn, RuleOccupiedPositions})
        expected << db::scalar(mainDb(), "select commnt from int_control where \"Код\"=?", {key}).toString();
    EXPECT_EQ(comments, expected);
}

// A form named as users name them ("Форма1", a caption "детей(0-17 лет)") goes into a package its installer reads:
// the structure file and the rules in code page 1251 pass the encoding gate.
TEST_F(UpdateInstall, AFormNamedWithDigitsAndBracketsAfterLettersInstalls) {
    CloseUpdateLogger();
    InitUpdateLogger(fx.root());
    catalog::updateForm(FormF30, "Форма1", "детей(0-17 лет)", false);
    catalog::updateTable(TableF30Staff, "(1000)", "детей(0-17 лет)", false, 0);
    const QStringList rules = ruleTexts();
    const QString archive = GenerateUpdatePackage(mainDb(), {"Форма1"}, {FormPackageOptions{"Форма1", true, true, false, "1.0.0", "2.0.0"}},
                                                  {}, "", "", fx.root() + "Updates", "d", fx.year(), "1.0");
    ASSERT_FALSE(archive.isEmpty());
    const QString unpacked = fx.root() + "unpacked/";
    ASSERT_TRUE(ExtractZipArchive(archive, unpacked));
    db::exec(mainDb(), "update forms set decipher='изменено'");
    db::exec(mainDb(), "delete from int_control where formid=?", {FormF30});
    InstallReport report;
    ASSERT_EQ(InstallUpdateComponents(mainDb(), unpacked, unpacked + "update_manifest.json", "U1", fx.year(),
                                      fx.root() + "Backup/U1", {}, &report),
              InstallAll)
        << report.reason.toStdString() << cp1251::decode(fileBytes(UpdateLogFileName())).right(1500).toStdString();
    EXPECT_EQ(decipher("Форма1"), "детей(0-17 лет)");
    EXPECT_EQ(ruleTexts(), rules);
}
