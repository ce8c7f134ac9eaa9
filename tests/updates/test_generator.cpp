#include "engine/ControlFileLines.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/Files.h"
#include "support/ChildProcess.h"
#include "support/Fixture.h"
#include "support/FakeDialogs.h"
#include "updates/UpdateGenerator.h"
#include "updates/UpdateLists.h"
#include "updates/UpdateSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

QStringList readLines(const QString &path) {
    QStringList l;
    cp1251::readLines(path, l);
    return l;
}

} // namespace

TEST(UpdateManifestText, AFullManifestReadsBack) {
    const FormPackageOptions o{"Ф30", true, true, true, "1.0.0", "2.0.0"};
    const QString text = BuildManifestJson("2.1", 2025, "Правка \"Ф30\" / итог", "replace", "1.0.0", {o}, {"Ф30"});
    // Read back by the installer's reader.
    TUpdateManifest m;
    ParseManifestJson(m, text);
    EXPECT_EQ(m.version, "2.1");
    EXPECT_EQ(m.year, "2025");
    EXPECT_EQ(m.description, "Правка \"Ф30\" / итог");
    ASSERT_EQ(m.forms.size(), 1);
    EXPECT_EQ(m.forms[0].formFile, "Ф30/Ф30.frs");
    EXPECT_EQ(m.forms[0].controlsVersion, "2.0.0");
    EXPECT_EQ(m.forms[0].printFiles.value(1), "Ф30/Forms/Ф30.txt");
    ASSERT_EQ(m.globalControls.size(), 1);
    EXPECT_EQ(m.globalControls[0].updateStrategy, "replace");
}

TEST(UpdatePackage, GeneratedFromTheSample) {
    SampleFixture fx;
    CloseUpdateLogger();
    InitUpdateLogger(fx.root());
    QList<int> positions;
    const QString out = fx.programFolder() + "Updates/";
    const FormPackageOptions ctl{"", false, true, false, "", "1.0.0"};
    db::exec(mainDb(), "insert into forms (formname, decipher, net) values ('../Ф', '', 0)");
    // A chosen form that cannot be packed (gone from the database, or a name
    // that is no file name) makes no package, and each is named.
    QString why;
    EXPECT_TRUE(GenerateUpdatePackage(mainDb(), {"Ф30", "Нет такой", "../Ф", "Ф14"}, {ctl, ctl, ctl, ctl}, {},
                                      "replace", "1.0.0", out, "Описание", 2025, "2.1", &why)
                    .isEmpty());
    EXPECT_EQ(why, "Эти формы не могут войти в пакет:\r\nНет такой (формы нет в базе данных)\r\n"
                   "../Ф (имя формы не может быть именем файла)");
    EXPECT_FALSE(QDir(out).exists() && !QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    const QString archive = GenerateUpdatePackage(
        mainDb(), {"Ф30", "Ф14"}, {ctl, ctl}, [&](int p, int, const QString &) { positions << p; },
        "replace", "1.0.0", out, "Описание", 2025, "2.1", &why);
    ASSERT_EQ(archive, out + "update_package_2025_v2.1.zip");
    EXPECT_EQ(why, "");
    EXPECT_EQ(positions.first(), 0);
    EXPECT_EQ(positions.last(), 100);

    const QString dst = fx.root() + "x/";
    ASSERT_TRUE(ExtractZipArchive(archive, dst));
    EXPECT_TRUE(QFile::exists(dst + "Ф30/controls_Ф30.orv"));
    EXPECT_TRUE(QFile::exists(dst + "Ф14/controls_Ф14.orv"));
    EXPECT_FALSE(QFile::exists(dst + "Ф30/Ф30.frs"));
    EXPECT_EQ(readLines(dst + "controls_all.orv").size(),
              db::scalar(mainDb(), "select count(*) from int_control").toInt());
    TUpdateManifest m;
    ASSERT_TRUE(LoadManifestFromFile(m, dst + "update_manifest.json"));
    ASSERT_EQ(m.forms.size(), 2);
    EXPECT_EQ(m.forms[1].formName, "Ф14");
    ASSERT_EQ(m.globalControls.size(), 1);
    EXPECT_EQ(m.globalControls[0].updateStrategy, "replace");

    const QString log = cp1251::decode(fileBytes(UpdateLogFileName()));
    EXPECT_TRUE(log.contains("ERROR: Форма не найдена в БД: Нет такой"));
    EXPECT_TRUE(log.contains("ERROR: Имя формы не годится для имени файла: ../Ф"));
    EXPECT_FALSE(QDir(out + "Ф").exists());   // nothing made beside the work folder
    EXPECT_TRUE(log.contains("INFO: Контрольная сумма: " + FileSha256Hex(archive)));

    // Nothing chosen for any form: no package, since every client refuses a manifest without forms.
    const FormPackageOptions none{};
    EXPECT_TRUE(GenerateUpdatePackage(mainDb(), {"Ф30", "Ф14"}, {none}, {}, "", "", out, "d", 2025, "3", &why).isEmpty());
    EXPECT_EQ(why, "Не выбрано, что войдет в пакет: структура формы, контроли или печатные файлы.");
    EXPECT_FALSE(QFile::exists(out + "update_package_2025_v3.zip"));
    // Packages made one right after the other: each whole, and no work folder is left behind.
    for (int i = 0; i < 5; ++i)
        ASSERT_FALSE(GenerateUpdatePackage(mainDb(), {"Ф30"}, {ctl}, {}, "", "", out, "d", 2025, QString::number(10 + i))
                         .isEmpty());
    EXPECT_EQ(QDir(out).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{});
    const QString fifth = out + "update_package_2025_v14.zip";
    ASSERT_TRUE(ExtractZipArchive(fifth, fx.root() + "fifth/"));
    EXPECT_FALSE(QFile::exists(fx.root() + "fifth/controls_all.orv"));
    EXPECT_TRUE(QFile::exists(fx.root() + "fifth/Ф30/controls_Ф30.orv"));
    EXPECT_TRUE(GenerateUpdatePackage(QSqlDatabase(), {"Ф30"}, {none}, {}, "", "", out, "d", 2025, "4").isEmpty());
    EXPECT_TRUE(GenerateUpdatePackage(mainDb(), {}, {}, {}, "", "", out, "d", 2025, "4").isEmpty());
    CloseUpdateLogger();
}

TEST(UpdatePackage, FormRuleFileEqualsTheEditorsExport) {
    SampleFixture fx;
    CloseUpdateLogger();
    InitUpdateLogger(fx.root());
    const QSqlDatabase d = mainDb();
    // A stored name in mixed case holding a LIKE wildcard.
    const QString name = "Ф3_1а";
    db::exec(d, "insert into forms (formname, decipher, net) values (?, '', 0)", {name});
    const qint64 id = db::scalar(d, "select id from forms where formname=?", {name}).toLongLong();
    db::exec(d, "delete from int_control");
    const auto rule = [&](qint64 formId, const QVariant &table, const QString &lft, const QString &rght,
                          const QString &comment) {
        db::exec(d, "insert into int_control (formid, tble, lft, rght, reltion, cycl, commnt) "
                    "values (?, ?, ?, ?, '>=', '', ?)",
                 {formId, table, lft, rght, comment});
    };
    rule(id, "(1000)", "СТР[1]", "СТР[2]", "Врачи \"всего\"\tв т.ч. Ёлкино");
    rule(0, QVariant(), "ф3_1аТ[1000]СТР1ГР1", "Ф30Т[1000]СТР1ГР1", "межформенный");
    rule(id, QVariant(), "Т[1000]СТР[1]", "Т[2000]СТР[1]", "");
    rule(0, QVariant(), "Ф3Х1аТ[1000]СТР1ГР1", "0", "чужой: \"_\" значит только себя");
    rule(0, QVariant(), "Ф30Т[1000]СТР1ГР1", "0", "чужой");

    const FormPackageOptions ctl{"", false, true, false, "", "1.0.0"};
    const QString archive =
        GenerateUpdatePackage(d, {name}, {ctl}, {}, "replace", "1.0.0", fx.root() + "out/", "d", 2025, "1");
    ASSERT_FALSE(archive.isEmpty());
    ASSERT_TRUE(ExtractZipArchive(archive, fx.root() + "x/"));
    const QByteArray shipped = fileBytes(fx.root() + "x/" + name + "/controls_" + name + ".orv");

    // What the control editor writes for the form's rules.
    const QString exported = fx.root() + "editor.orv";
    ctlfile::WriteControlFile(exported, ctlfile::ControlFileLinesForForm(d, id, name));
    EXPECT_EQ(shipped, fileBytes(exported));
    EXPECT_EQ(cp1251::decode(shipped), "\"Ф3_1а\",\"\",\"Т[1000]СТР[1]\",\">=\",\"Т[2000]СТР[1]\",\"\",\"\"\r\n"
              "\"\",\"\",\"ф3_1аТ[1000]СТР1ГР1\",\">=\",\"Ф30Т[1000]СТР1ГР1\",\"\",\"межформенный\"\r\n"
              "\"Ф3_1а\",\"(1000)\",\"СТР[1]\",\">=\",\"СТР[2]\",\"\",\"Врачи \"\"всего\"\"\tв т.ч. Ёлкино\"\r\n");
    CloseUpdateLogger();

    // A disk that fills up mid-write is an error, never a shorter file.
    const LimitedRun run = runWithFileSizeLimit(64, [&](QString &msg) {
        try {
            ctlfile::WriteControlFile(fx.root() + "full.orv", ctlfile::ControlFileLinesForForm(d, id, name));
            return true;
        } catch (const db::Error &e) {
            msg = e.message();
            return false;
        }
    });
    ASSERT_TRUE(run.finished);
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.message.startsWith("Не удалось записать файл")) << run.message.toStdString();
}

TEST(UpdateGeneratorWindow, FormsAreListedInTheNameOrder) {
    SampleFixture fx;
    for (const char *name : {"Ёлки", "ежи", "Жуки", "Б"})
        db::exec(mainDb(), "insert into forms (formname) values (?)", {QString::fromUtf8(name)});
    TUpdateGeneratorForm w(mainDb(), 0);
    w.LoadForms();
    QStringList shown;
    for (int i = 0; i < w.formList()->count(); ++i) shown << w.formList()->item(i)->text();
    EXPECT_EQ(shown, (QStringList{"Б", "ежи", "Ёлки", "Жуки", "Ф14", "Ф30", "Ф47"}));
}

// A form deleted after the list was loaded: the window says which form, shows no success and makes no package.
TEST(UpdateGeneratorWindow, ATickedFormThatCannotBePackedIsNamedAndNoPackageIsMade) {
    SampleFixture fx;
    FakeDialogs dialogs;
    TUpdateGeneratorForm w(mainDb(), 0);
    w.LoadForms();
    for (int i = 0; i < w.formList()->count(); ++i)
        if (w.formList()->item(i)->text() != "Ф14") w.formList()->item(i)->setCheckState(Qt::Checked);
    w.descriptionEdit()->setText("Описание");
    w.yearBox()->setEditText("2024");
    db::exec(mainDb(), "delete from forms where formname='Ф47'");
    w.generatePackage();
    EXPECT_EQ(dialogs.messages, QStringList{"Ошибка при создании пакета обновления.\r\nЭти формы не могут войти в пакет:\r\n"
                                            "Ф47 (формы нет в базе данных)"});
    EXPECT_TRUE(w.lastPackage().isEmpty());
    EXPECT_TRUE(QDir(fx.programFolder() + "Updates").entryList({"*.zip"}).isEmpty());
}
