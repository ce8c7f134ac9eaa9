// What one update is: rows of one configuration's main database (the forms' lines and rules, their installed
// versions, the update's record) and files of the same configuration's year folder (the print files and the update's
// backup). Each install and rollback is run through the manager, and what it changed is compared with what the
// configuration held before.
#include "ServedSample.h"

#include "support/ForeignEncodings.h"
#include "platform/office/Convert.h"
#include "updates/UpdateInstaller.h"

#include <QDirIterator>
#include <QRegularExpression>

using namespace updtest;

namespace {

// A second configuration: a copy of the sample's year (the usual archive of a year), on a connection of its own.
struct SecondConfiguration {
    QString yearFolder;
    QString connection;
    explicit SecondConfiguration(const ServedSample &s) {
        yearFolder = s.fx.root() + "Архив/" + QString::number(s.fx.year()) + "/";
        QDir().mkpath(yearFolder + "forms");
        db::copyDatabase(s.fx.yearFolder() + "orvmain.mdb", yearFolder + "orvmain.mdb");
        for (const QString &f : QDir(s.fx.yearFolder() + "forms").entryList(QDir::Files))
            EXPECT_TRUE(paths::copyFileOver(s.fx.yearFolder() + "forms/" + f, yearFolder + "forms/" + f));
        connection = db::uniqueName("archive");
        db::open(connection, yearFolder + "orvmain.mdb");
    }
    ~SecondConfiguration() { db::close(connection); }
    QSqlDatabase db() const { return db::connection(connection); }
};

// What an update may change in a configuration: its rules, print files, installed versions and form lines.
QStringList unitState(const QSqlDatabase &d, const QString &yearFolder) {
    EnsureUpdateTables(d);
    return storedRules(d) + printFiles(yearFolder)
           + queryRows(d, "select form_name, form_version, controls_version, quote(last_update_date) "
                          "from installed_form_versions order by form_name")
           + QStringList{decipher("Ф30", d), decipher("Ф14", d)};
}

// Every file under a folder with its checksum.
QStringList filesUnder(const QString &folder) {
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        out << QDir(folder).relativeFilePath(f) + "=" + FileSha256Hex(f);
    }
    out.sort();
    return out;
}

TUpdateManager managerOf(ServedSample &s, const QSqlDatabase &d) {
    return TUpdateManager(d, s.fx.year(), s.url(), s.fx.programFolder() + "temp/");
}

void setModified(const QString &path, const QDateTime &t) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(t, QFileDevice::FileModificationTime));
}

// Each print file of the folder with its modification time (to the millisecond).
QStringList printDates(const QString &forms) {
    QStringList out;
    for (const QFileInfo &i : QDir(forms).entryInfoList(QDir::Files, QDir::Name))
        out << i.fileName() + "@" + i.lastModified().toString(Qt::ISODateWithMs);
    return out;
}

// The template the print of Ф30 takes.
QString printTemplate(const QString &forms) {
    return QFileInfo(office::newerTemplate(forms + "Ф30.doc", "docx")).fileName();
}

// An old binary Word document (what the print takes only by its date when a .docx stands beside it).
const QByteArray kLegacyDoc = QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(504, '\0');

// The installable update of the server's list with that id.
UpdateEntry offered(ServedSample &s, const QString &id) {
    const auto list = s.manager().CheckForUpdates(true);
    for (const UpdateEntry &e : list ? list->items : QList<UpdateEntry>())
        if (e.id == id) return e;
    ADD_FAILURE() << "not offered: " << id.toStdString();
    return {};
}

} // namespace

// Configuration 2 is a copy of configuration 1's year with its own caption of Ф30, rule comment and print mapping. The
// same update installed in both and rolled back in either order: each gets back exactly its own rows and files, the
// second install leaves the first's backup alone, and a configuration where the update is not installed has nothing to
// roll back.
TEST(UpdateUnit, TwoConfigurationsOfOneYearEachGetBackExactlyTheirOwnRowsAndFiles) {
    for (const bool inInstallOrder : {true, false}) {
        SCOPED_TRACE(inInstallOrder ? "rolled back in the order of the installs" : "rolled back in the reverse order");
        ServedSample s;
        EnsureUpdateTables(mainDb());
        // A version installed long ago: its date comes back as it was, not as the day of the rollback.
        db::exec(mainDb(), "insert into installed_form_versions (form_name, form_version, controls_version, "
                           "last_update_date) values ('Ф30', '0.9', '0.8', '2023-05-06 07:08:09')");
        SecondConfiguration archive(s);
        const QSqlDatabase a = archive.db();
        db::exec(a, "update forms set decipher='архивная редакция' where formname='Ф30'");
        db::exec(a, "update int_control set commnt='архивный: \"свой\"' where \"Код\"=(select min(\"Код\") "
                    "from int_control where formid=(select id from forms where formname='Ф30'))");
        write(archive.yearFolder + "forms/Ф30.txt", {"архив"});
        struct Config {
            QSqlDatabase d;
            QString yearFolder;
            QStringList before, installed;
        };
        Config c[2] = {{mainDb(), s.fx.yearFolder(), {}, {}}, {a, archive.yearFolder, {}, {}}};
        for (Config &k : c) k.before = unitState(k.d, k.yearFolder);
        ASSERT_NE(c[0].before, c[1].before);
        const UpdateEntry u1 = offered(s, "U1");

        // Installed in 1 only: 2 has nothing to roll back, and its refusal changes neither.
        {
            TUpdateManager m = managerOf(s, c[0].d);
            ASSERT_TRUE(m.InstallUpdate(u1)) << m.Message.toStdString();
        }
        c[0].installed = unitState(c[0].d, c[0].yearFolder);
        EXPECT_EQ(logText().count("INFO: Скопирован печатный файл: Ф30.txt"), 1);
        {
            TUpdateManager m = managerOf(s, c[1].d);
            EXPECT_FALSE(m.RollbackUpdate("U1"));
            EXPECT_EQ(m.Message, "Обновление U1 не установлено.");
        }
        EXPECT_EQ(unitState(c[1].d, c[1].yearFolder), c[1].before);
        EXPECT_EQ(unitState(c[0].d, c[0].yearFolder), c[0].installed);

        // Then in 2: each configuration has its own backup, and 1's is left as it was.
        const QString backup1 = managerOf(s, c[0].d).backupFolder("U1");
        const QStringList backup1Files = filesUnder(backup1);
        ASSERT_FALSE(backup1Files.isEmpty());
        {
            TUpdateManager m = managerOf(s, c[1].d);
            EXPECT_TRUE(m.backupFolder("U1").startsWith(archive.yearFolder));
            ASSERT_TRUE(m.InstallUpdate(u1)) << m.Message.toStdString();
        }
        EXPECT_EQ(filesUnder(backup1), backup1Files);
        c[1].installed = unitState(c[1].d, c[1].yearFolder);
        EXPECT_EQ(decipher("Ф30", a), "Сведения о медицинской организации");
        EXPECT_EQ(c[0].installed, unitState(c[0].d, c[0].yearFolder));

        const int first = inInstallOrder ? 0 : 1, second = 1 - first;
        {
            TUpdateManager m = managerOf(s, c[first].d);
            ASSERT_TRUE(m.RollbackUpdate("U1")) << m.Message.toStdString();
        }
        EXPECT_EQ(unitState(c[first].d, c[first].yearFolder), c[first].before);
        EXPECT_EQ(unitState(c[second].d, c[second].yearFolder), c[second].installed);
        {
            TUpdateManager m = managerOf(s, c[second].d);
            ASSERT_TRUE(m.RollbackUpdate("U1")) << m.Message.toStdString();
        }
        for (const Config &k : c) {
            EXPECT_EQ(unitState(k.d, k.yearFolder), k.before);
            // Rolled back: nothing more to roll back, and nothing changes.
            TUpdateManager m = managerOf(s, k.d);
            EXPECT_FALSE(m.RollbackUpdate("u1"));
            EXPECT_EQ(m.Message, "Обновление u1 не установлено.");
            EXPECT_EQ(unitState(k.d, k.yearFolder), k.before);
            EXPECT_EQ(db::scalar(k.d, "select group_concat(status) from updates").toString(), "rolled_back");
        }
        // The program folder holds no backup of either.
        EXPECT_FALSE(QDir(s.fx.programFolder() + "Backup").exists());
    }
}

// The templates of both kinds keep their modification times through the package, the install and the rollback: the
// print takes the same template before the update and after its rollback, and of a package with both kinds the one the
// publisher changed last, as at the publisher's. The times are an odd second apart: the zip's own time field counts in
// steps of two.
TEST(UpdateUnit, TemplatesOfBothKindsKeepTheirDatesThroughInstallAndRollback) {
    ServedSample s;
    const QString forms = s.fx.yearFolder() + "forms/";
    const QDateTime now = QDateTime::currentDateTime();
    // The user's Ф30.doc, an old binary document changed yesterday, is the one in use; Ф30.docx is older.
    QFile doc(forms + "Ф30.doc");
    ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
    doc.write(kLegacyDoc);
    doc.close();
    setModified(forms + "Ф30.doc", now.addDays(-1).addMSecs(123));
    setModified(forms + "Ф30.docx", now.addDays(-30).addMSecs(457));
    setModified(forms + "Ф30.txt", now.addDays(-7).addMSecs(789));
    ASSERT_EQ(printTemplate(forms), "Ф30.doc");
    const QStringList mine = printDates(forms);
    const QStringList rows = storedRules();

    const QDateTime published(QDate(2024, 11, 5), QTime(10, 0, 7));
    const QByteArray docxOnly = package(s, {"Ф30"}, [&](const QString &d) {
        QFile::remove(d + "Ф30/Forms/Ф30.doc");
        setModified(d + "Ф30/Forms/Ф30.docx", published);
    });
    // Both kinds, the .docx changed one second after the .doc, then the other way round.
    const auto both = [&](int docxLater) {
        return package(s, {"Ф30"}, [&](const QString &d) {
            setModified(d + "Ф30/Forms/Ф30.doc", published);
            setModified(d + "Ф30/Forms/Ф30.docx", published.addSecs(docxLater));
        });
    };
    serveList(s, {{"X", docxOnly}, {"B1", both(1)}, {"B2", both(-1)}});

    {
        TUpdateManager m = s.manager();
        ASSERT_TRUE(m.InstallUpdate(offered(s, "X"))) << m.Message.toStdString();
    }
    // The package's .docx with the publisher's time; the user's .doc, which the print would take before it, set aside.
    EXPECT_FALSE(QFile::exists(forms + "Ф30.doc"));
    EXPECT_EQ(QFileInfo(forms + "Ф30.docx").lastModified(), published);
    EXPECT_EQ(printTemplate(forms), "Ф30.docx");
    {
        TUpdateManager m = s.manager();
        ASSERT_TRUE(m.RollbackUpdate("X")) << m.Message.toStdString();
    }
    EXPECT_EQ(printDates(forms), mine);
    EXPECT_EQ(printTemplate(forms), "Ф30.doc");
    EXPECT_EQ(storedRules(), rows);

    for (const auto &[id, taken] : {std::pair{"B1", "Ф30.docx"}, std::pair{"B2", "Ф30.doc"}}) {
        SCOPED_TRACE(id);
        {
            TUpdateManager m = s.manager();
            ASSERT_TRUE(m.InstallUpdate(offered(s, id))) << m.Message.toStdString();
        }
        EXPECT_EQ(QFileInfo(forms + "Ф30.doc").lastModified(), published);
        EXPECT_EQ(printTemplate(forms), QString(taken));
        EXPECT_TRUE(logText().contains(QString("INFO: Пакет содержит шаблоны формы Ф30 обоих видов; печать возьмет ") + taken));
        {
            TUpdateManager m = s.manager();
            ASSERT_TRUE(m.RollbackUpdate(id)) << m.Message.toStdString();
        }
        EXPECT_EQ(printDates(forms), mine);
        EXPECT_EQ(printTemplate(forms), "Ф30.doc");
    }
}

// A manifest is read whole: a "forms" key inside another object before the top-level list is not the list, and a
// manifest whose only form list is such a one, or empty, is refused with the field named and installs nothing.
TEST(UpdateUnit, ANestedFormsKeyIsNotTheFormListOfTheManifest) {
    ServedSample s;
    const auto withManifest = [&](const std::function<void(QString &)> &edit) {
        return package(s, {"Ф30"}, [&](const QString &d) {
            published(d);
            QString m;
            ASSERT_TRUE(ReadJsonFile(d + "update_manifest.json", m));
            edit(m);
            write(d + "update_manifest.json", {m});
        });
    };
    const QString nested = "{\r\n  \"notes\": {\"forms\": [{\"formName\": \"Ф14\"}]},";
    const QByteArray first = withManifest([&](QString &m) { m.replace(QRegularExpression("^\\{"), nested); });
    const QByteArray only = withManifest([&](QString &m) {
        m.replace(QRegularExpression("\"forms\": \\[\\s*\\{.*\\}\\s*\\],", QRegularExpression::DotMatchesEverythingOption),
                  "");
        m.replace(QRegularExpression("^\\{"), nested);
    });
    const QByteArray empty = withManifest([&](QString &m) {
        m.replace(QRegularExpression("\"forms\": \\[\\s*\\{.*\\}\\s*\\],", QRegularExpression::DotMatchesEverythingOption),
                  "\"forms\": [],");
    });
    serveList(s, {{"N", first}, {"O", only}, {"E", empty}});
    const QStringList before = state(s);
    const QString f14 = decipher("Ф14");
    const std::pair<const char *, const char *> refused[] = {
        {"O", "Манифест пакета обновления не принят: поле \"forms\" не является списком форм."},
        {"E", "Манифест пакета обновления не принят: список форм (поле \"forms\") пуст."}};
    for (const auto &[id, message] : refused) {
        SCOPED_TRACE(id);
        TUpdateManager m = s.manager();
        EXPECT_FALSE(m.InstallUpdate(offered(s, id)));
        EXPECT_EQ(m.Message, QString(message));
        EXPECT_EQ(state(s), before);
        EXPECT_EQ(db::scalar(mainDb(), "select count(*) from updates").toInt(), 0);
    }
    TUpdateManager m = s.manager();
    ASSERT_TRUE(m.InstallUpdate(offered(s, "N"))) << m.Message.toStdString();
    EXPECT_EQ(decipher("Ф30"), "Опубликовано");
    EXPECT_EQ(decipher("Ф14"), f14);
}

// A control file of a package in another encoding is refused by the encoding gate: the update installs nothing, the
// user is sent to the update log, and the log line carries the gate's reason.
TEST(UpdateUnit, AControlFileTheGateRefusesIsLoggedWithTheGatesReason) {
    ServedSample s;
    QString rules;
    const std::pair<const char *, std::function<QByteArray(const QString &)>> encodings[] = {
        {"UTF-8", [](const QString &t) { return t.toUtf8(); }},
        {"UTF-16", [](const QString &t) { return utf16(t, false, true); }},
        {"KOI8-R", [](const QString &t) { return koi8r(t); }},
        {"DOS (cp866)", [](const QString &t) { return cp866(t); }},
    };
    QList<std::pair<QString, QByteArray>> served;
    QMap<QString, QByteArray> bytes;
    for (const auto &[name, encode] : encodings)
        served.append({QString("G%1").arg(served.size()), package(s, {"Ф30"}, [&](const QString &d) {
            const QString file = d + "Ф30/controls_Ф30.orv";
            QStringList l = lines(file);
            l << R"x("Ф30","(1000)","СТР[1]ГР[4]",">=","0","","Врачей всего не меньше нуля, проверьте строку итога")x";
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            bytes[name] = encode(l.join("\r\n") + "\r\n");
            f.write(bytes[name]);
        })});
    serveList(s, served);
    const QStringList before = state(s);
    for (qsizetype i = 0; i < served.size(); ++i) {
        const QString name = encodings[i].first;
        SCOPED_TRACE(name.toStdString());
        const QString problem = cp1251::encodingProblem(bytes[name]);
        ASSERT_TRUE(problem.contains(name)) << problem.toStdString();
        TUpdateManager m = s.manager();
        EXPECT_FALSE(m.InstallUpdate(offered(s, served[i].first)));
        EXPECT_EQ(m.Message, "Форма Ф30 пакета обновления не может быть установлена; подробности в журнале обновлений.");
        EXPECT_EQ(state(s), before);
        const QString log = logText();
        EXPECT_TRUE(log.contains(QRegularExpression("ERROR: Файл контролей не читается: [^\r\n]*/Ф30/controls_Ф30\\.orv: "
                                                    + QRegularExpression::escape(problem))))
            << log.right(600).toStdString();
    }
}

// Bytes 1 and 2 stand for line breaks only where the file's format says so (titles of a structure file); in a rule
// comment and a form description of a package they are blanks, as every line break of a one-line text.
TEST(UpdateUnit, Bytes1And2InAPackagesRuleCommentAndDescriptionAreBlanks) {
    ServedSample s;
    const QString ctl = QString(R"x("Ф30","(1000)","СТР[1]ГР[4]",">=","0","","итог)x") + QChar(2) + QChar(1) + "строки\"";
    serveList(s, {{"C", package(s, {"Ф30"}, [&](const QString &d) {
                       write(d + "Ф30/Ф30.frs", {QString("Ф30#Сведения") + QChar(1) + "о кадрах" + QChar(2) + "#Нет"});
                       QStringList l = lines(d + "Ф30/controls_Ф30.orv");
                       l << ctl;
                       write(d + "Ф30/controls_Ф30.orv", l);
                   })}});
    TUpdateManager m = s.manager();
    ASSERT_TRUE(m.InstallUpdate(offered(s, "C"))) << m.Message.toStdString() << logText().right(800).toStdString();
    EXPECT_EQ(decipher("Ф30"), "Сведения о кадрах ");
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control where commnt='итог  строки'").toInt(), 1);
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control where commnt glob ?", {QString("*[") + QChar(1) + QChar(2) + "]*"})
                  .toInt(),
              0);
}
