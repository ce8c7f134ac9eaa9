#include "support/TestHttpServer.h"
#include "core/AdminMode.h"
#include "core/ProgressWindow.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "updates/UpdateGenerator.h"
#include "updates/UpdateManager.h"
#include "updates/UpdateSupport.h"

#include <QDir>
#include <QFile>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

QString decipher(const QString &form) {
    return db::scalar(mainDb(), "select decipher from forms where formname=?", {form}).toString();
}

QStringList lines(const QString &path) {
    QStringList l;
    cp1251::readLines(path, l);
    return l;
}

QString logText() {
    QFile f(UpdateLogFileName());
    return f.open(QIODevice::ReadOnly) ? cp1251::decode(f.readAll()) : QString();
}

// The sample, a package of its Ф30 and Ф14 on a local update server under
// two ids, and the database drifted from the published forms.
struct ServedSample {
    SampleFixture fx;
    FakeDialogs dialogs;
    TestHttpServer server;
    QString checksum;
    QString printFile;

    ServedSample() {
        CloseUpdateLogger();
        const FormPackageOptions all{"", true, true, true, "1.0.0", "1.0.0"};
        const QString archive = GenerateUpdatePackage(mainDb(), {"Ф30", "Ф14"}, {all, all}, {}, "", "",
                                                      fx.root() + "publish", "Пакет", fx.year(), "1.0");
        QFile f(archive);
        f.open(QIODevice::ReadOnly);
        const QByteArray bytes = f.readAll();
        checksum = FileSha256Hex(archive);
        server.setOk("/pkg/U1.zip", bytes);
        server.setOk("/pkg/U2.zip", bytes);
        const QByteArray list =
            QString(R"({"year": "2024", "lastUpdate": "2024-12-01", "updates": [
  {"id": "U1", "version": "1.0", "releaseDate": "2024-11-01", "description": "Формы 30 и 14",
   "forms": ["Ф30", "Ф14"], "size": %1, "downloadUrl": "%2/pkg/U1.zip", "checksum": "%3"},
  {"id": "U2", "version": "1.1", "releaseDate": "2024-12-01", "description": "Повтор",
   "forms": ["Ф30"], "size": %1, "downloadUrl": "%2/pkg/U2.zip", "checksum": "%4"}]})")
                .arg(bytes.size()).arg(server.base()).arg(checksum).arg(QString(64, 'a'))
                .toUtf8();
        server.setOk("/api/v1/updates/2024/updates_list.json", list);
        printFile = fx.yearFolder() + "forms/Ф30.txt";
        db::exec(mainDb(), "update forms set decipher='изменено' where formname='Ф30'");
        cp1251::writeLines(printFile, {"свой"});
    }
    ~ServedSample() { CloseUpdateLogger(); }

    QString url() const { return server.base() + "/api/v1/updates/"; }
    TUpdateManager manager() {
        return TUpdateManager(mainDb(), fx.year(), url(), fx.programFolder() + "temp/", fx.programFolder() + "Backup/");
    }
    // The update window on this server, shown (which lists the updates).
    void open(TUpdateForm &w) {
        IniFile(paths::updateSettingsFile()).writeString("Настройки", "UpdateServerURL", url());
        w.Database = mainDb();
        w.Year = fx.year();
        w.show();
    }
};

} // namespace

TEST(UpdateManager, ListsOnlyUpdatesNotInstalledForTheYear) {
    ServedSample s;
    TUpdateManager m = s.manager();
    auto list = m.CheckForUpdates();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->items.size(), 2);
    InstalledUpdateRecord r;
    r.updateId = "u1";   // letter case does not matter
    r.year = 2024;
    r.status = "installed";
    RecordInstalledUpdate(mainDb(), r);
    r.updateId = "U2";
    r.year = 2023;   // another year
    RecordInstalledUpdate(mainDb(), r);
    list = m.CheckForUpdates();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->items.size(), 1);
    EXPECT_EQ(list->items[0].id, "U2");
    EXPECT_TRUE(logText().contains("INFO: Найдено обновлений: 1"));
    EXPECT_TRUE(QDir(s.fx.programFolder() + "temp").entryList({"updates_list_*"}).isEmpty());

    // A list cut short is an error, not an empty list. (A chunked reply whose
    // connection breaks may read as complete on the wire.)
    s.server.setRaw("/api/v1/updates/2023/updates_list.json",
                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                    "16\r\n{\"updates\": [{\"id\": \"U\r\n");
    TUpdateManager cut(mainDb(), 2023, s.url(), s.fx.programFolder() + "temp/", "");
    EXPECT_FALSE(cut.CheckForUpdates());

    TUpdateManager offline(mainDb(), 2024, "http://127.0.0.1:1/", s.fx.programFolder() + "temp/", "");
    EXPECT_FALSE(offline.CheckForUpdates());
    EXPECT_TRUE(logText().contains("WARNING: Не удалось загрузить список обновлений"));
}

TEST(UpdateManager, ChecksumMismatchAndMissingUrlInstallNothing) {
    ServedSample s;
    TUpdateManager m = s.manager();
    EXPECT_FALSE(m.InstallUpdate("U2", s.server.base() + "/pkg/U2.zip", QString(64, 'a')));
    EXPECT_TRUE(logText().contains("ERROR: Контрольная сумма архива не совпадает"));
    EXPECT_FALSE(QFile::exists(m.archivePath("U2")));
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from updates").toInt(), 0);
    EXPECT_EQ(decipher("Ф30"), "изменено");

    EXPECT_FALSE(m.InstallUpdate("U3", "", s.checksum));
    EXPECT_TRUE(logText().contains("ERROR: Ошибка при загрузке архива обновления"));

    // An id from the server that leads out of the temporary folder touches nothing.
    const QString outside = s.fx.programFolder() + "keep_extracted";
    QDir().mkpath(outside);
    EXPECT_FALSE(m.InstallUpdate("../keep", s.server.base() + "/pkg/U1.zip", s.checksum));
    EXPECT_TRUE(QDir(outside).exists());
    EXPECT_TRUE(logText().contains("ERROR: Недопустимый идентификатор обновления: ../keep"));
    EXPECT_FALSE(m.RollbackUpdate("../../x"));
    EXPECT_EQ(decipher("Ф30"), "изменено");
}

TEST(UpdateManager, FailureWhileRecordingUndoesFilesAndTables) {
    ServedSample s;
    const int rules = db::scalar(mainDb(), "select count(*) from int_control").toInt();
    db::exec(mainDb(), "delete from int_control where \"Код\"=1");
    EnsureUpdateTables(mainDb());
    db::exec(mainDb(), "create trigger refuse before insert on updates begin select raise(abort, 'сбой записи'); end");
    TUpdateManager m = s.manager();
    EXPECT_FALSE(m.InstallUpdate("U1", s.server.base() + "/pkg/U1.zip", s.checksum));
    EXPECT_EQ(decipher("Ф30"), "изменено");
    EXPECT_EQ(lines(s.printFile), QStringList{"свой"});
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), rules - 1);
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from installed_form_versions").toInt(), 0);
    EXPECT_TRUE(logText().contains("ERROR: Исключение при установке обновления: "));
}

TEST(UpdateManager, NothingInstalledTriggersTheAutomaticRollback) {
    ServedSample s;
    // A package whose only form lacks its structure file.
    const QString src = s.fx.root() + "broken/";
    QDir().mkpath(src + "Ф30");
    cp1251::writeLines(src + "update_manifest.json",
                       {R"({"version": "1", "year": "2024", "forms": [{"formName": "Ф30", "formFile": "Ф30\/Ф30.frs"}]})"});
    ASSERT_TRUE(CreateZipArchive(src, s.fx.root() + "broken.zip"));
    QFile f(s.fx.root() + "broken.zip");
    f.open(QIODevice::ReadOnly);
    s.server.setOk("/pkg/B.zip", f.readAll());
    TUpdateManager m = s.manager();
    // A backup left by an earlier attempt is not what gets restored.
    const QString before = decipher("Ф14");
    QDir().mkpath(m.backupFolder("B") + "/forms_backup");
    ASSERT_TRUE(cp1251::writeLines(m.backupFolder("B") + "/forms_backup/Ф14.frs", {"Ф14#старое#Нет"}));
    EXPECT_FALSE(m.InstallUpdate("B", s.server.base() + "/pkg/B.zip", FileSha256Hex(s.fx.root() + "broken.zip")));
    const QString log = logText();
    EXPECT_TRUE(log.contains("ERROR: Ошибка при установке обновления: B"));
    EXPECT_TRUE(log.contains("INFO: Выполняется автоматический откат..."));
    EXPECT_TRUE(log.contains("INFO: Откат обновления завершен: B"));
    EXPECT_EQ(decipher("Ф30"), "изменено");
    EXPECT_EQ(decipher("Ф14"), before);
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from updates").toInt(), 0);
}

TEST(UpdateWindow, InstallsListsTheInstalledUpdateAndRollsItBack) {
    ServedSample s;
    TUpdateForm w;
    s.open(w);
    ASSERT_EQ(w.ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(w.ListView1->topLevelItem(0)->text(4), "Доступно");
    w.ListView1->setCurrentItem(w.ListView1->topLevelItem(0));
    EXPECT_TRUE(w.Memo1->toPlainText().contains("Формы: Ф30,Ф14"));

    s.dialogs.answers = {true};
    w.Button2->click();
    EXPECT_EQ(s.dialogs.questions.value(0), "Установить обновление 1.0?");
    EXPECT_EQ(s.dialogs.messages.value(0), "Обновление успешно установлено");
    EXPECT_EQ(decipher("Ф30"), "Сведения о медицинской организации");
    // The record keeps what the list said.
    EXPECT_EQ(db::scalar(mainDb(), "select version || '|' || description || '|' || (archive_size > 0) from updates")
                  .toString(), "1.0|Формы 30 и 14|1");
    // Refreshed: U1 listed as installed and ready to roll back, U2 still offered.
    ASSERT_EQ(w.ListView1->topLevelItemCount(), 2);
    QTreeWidgetItem *installed = w.ListView1->topLevelItem(0);
    EXPECT_EQ(installed->text(4), "Установлено");
    w.ListView1->setCurrentItem(installed);

    s.dialogs.answers = {true};
    w.Button3->click();
    EXPECT_EQ(s.dialogs.questions.value(1), "Откатить обновление? Все изменения будут восстановлены из резервной копии.");
    EXPECT_EQ(s.dialogs.messages.value(1), "Обновление откачено");
    EXPECT_EQ(decipher("Ф30"), "изменено");
    EXPECT_EQ(lines(s.printFile), QStringList{"свой"});
    // The rollback takes the installed versions back too.
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from installed_form_versions").toInt(), 0);
    ASSERT_EQ(w.ListView1->topLevelItemCount(), 2);
    EXPECT_EQ(w.ListView1->topLevelItem(0)->text(4), "Доступно");

    // Off the server's list, an installed update is still listed for its rollback.
    db::exec(mainDb(), "insert into updates (update_id, version, year, status, description, archive_size) "
                       "values ('OLD', '0.9', ?, 'installed', 'Прежнее', 10)", {s.fx.year()});
    w.Button1->click();
    ASSERT_EQ(w.ListView1->topLevelItemCount(), 3);
    EXPECT_EQ(w.ListView1->topLevelItem(2)->text(2), "Прежнее");
    EXPECT_EQ(w.ListView1->topLevelItem(2)->text(4), "Установлено");

    w.ListView1->setCurrentItem(w.ListView1->topLevelItem(1));
    s.dialogs.answers = {true};
    w.Button2->click();   // U2: wrong checksum
    EXPECT_EQ(s.dialogs.messages.value(2), "Ошибка при установке обновления. Проверьте логи.");

    TUpdateForm noDb;
    noDb.show();
    EXPECT_EQ(s.dialogs.messages.last(), "База данных не подключена");
}

TEST(UpdateWindow, CancelledDownloadsLeaveTheListAndTheFormsAsBefore) {
    ServedSample s;
    TUpdateForm w;
    s.open(w);
    ASSERT_EQ(w.ListView1->topLevelItemCount(), 2);
    w.ListView1->setCurrentItem(w.ListView1->topLevelItem(0));
    const QString form = decipher("Ф30");
    // "Отмена" pressed in the progress window as soon as the bytes come.
    const QMetaObject::Connection pressed = QObject::connect(Progress().Gauge1, &QProgressBar::valueChanged,
                                                             [](int v) { if (v > 0) Progress().cancel(); });
    struct Case { const char *what; QPushButton *button; };
    for (const Case &c : {Case{"refresh", w.Button1}, Case{"install", w.Button2}}) {
        SCOPED_TRACE(c.what);
        s.dialogs.answers = {true};
        s.dialogs.messages.clear();
        c.button->click();
        EXPECT_EQ(s.dialogs.messages, QStringList{Cancelled::message()});
        ASSERT_EQ(w.ListView1->topLevelItemCount(), 2);
        EXPECT_EQ(w.ListView1->topLevelItem(0)->text(4), "Доступно");
        EXPECT_EQ(decipher("Ф30"), form);
        EXPECT_EQ(db::scalar(mainDb(), "select count(*) from updates").toInt(), 0);
        EXPECT_TRUE(w.Button1->isEnabled());
        EXPECT_FALSE(Progress().isVisible());
    }
    QObject::disconnect(pressed);
}

TEST(UpdateWindow, TheAddressComesFromTheUpdateSettingsFileOnly) {
    ServedSample s;
    EXPECT_EQ(ReadUpdateServerUrl(s.fx.programFolder() + "none.ini"), kDefaultUpdateServerUrl);
    // The working address only in the program's settings file is not used.
    IniFile(paths::settingsFile()).writeString("Настройки", "UpdateServerURL", s.url());
    IniFile(paths::updateSettingsFile()).writeString("Настройки", "UpdateServerURL", "http://127.0.0.1:1/");
    TUpdateForm w;
    w.Database = mainDb();
    w.Year = s.fx.year();
    w.show();
    EXPECT_EQ(s.dialogs.messages.value(0), "Сервер обновлений недоступен. Проверьте подключение к интернету.");
    EXPECT_EQ(w.ListView1->topLevelItemCount(), 0);
}
