#include "support/Files.h"
#include "support/QueryRows.h"
#include "support/TestHttpServer.h"
#include "core/AdminMode.h"
#include "core/ProgressWindow.h"
#include "engine/SharedState.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/ChildProcess.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "updates/UpdateGenerator.h"
#include "updates/UpdateInstaller.h"
#include "updates/UpdateManager.h"
#include "engine/RuleCheck.h"
#include "engine/ControlFileLines.h"
#include "engine/FormStructureFile.h"
#include "updates/UpdateSupport.h"

#include <QPlainTextEdit>
#include <QTreeWidget>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryFile>
#include <QThread>
#include <sys/wait.h>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <sys/resource.h>
#include <gtest/gtest.h>

#include "ServedSample.h"

using namespace updtest;

TEST(UpdateManager, ListsOnlyUpdatesNotInstalledForTheYear) {
    ServedSample s;
    TUpdateManager m = s.manager();
    auto list = m.CheckForUpdates();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->items.size(), 2);
    auto record = [](const QString &id, int year) {
        InstalledUpdateRecord r;
        r.updateId = id, r.year = year, r.status = "installed";
        RecordInstalledUpdate(mainDb(), r);
    };
    record("u1", 2024);   // letter case does not matter
    record("U2", 2023);   // another year
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
    TUpdateManager cut(mainDb(), 2023, s.url(), s.fx.programFolder() + "temp/");
    EXPECT_FALSE(cut.CheckForUpdates());
    EXPECT_TRUE(cut.Message.contains("не полностью")) << cut.Message.toStdString();
    // A list far beyond any real one is not taken in.
    s.server.setOk("/api/v1/updates/2022/updates_list.json", QByteArray(kMaxUpdatesListBytes + 1, ' '));
    TUpdateManager huge(mainDb(), 2022, s.url(), s.fx.programFolder() + "temp/");
    EXPECT_FALSE(huge.CheckForUpdates());
    EXPECT_TRUE(huge.Message.contains("Ответ сервера слишком велик")) << huge.Message.toStdString();

    TUpdateManager offline(mainDb(), 2024, "http://127.0.0.1:1/", s.fx.programFolder() + "temp/");
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


TEST(UpdateWindow, ARefusedPackageChangesNothingAndIsOfferedAgain) {
    ServedSample s;
    db::exec(mainDb(), "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) "
                       "values (1, '', 'СТР[1]', '=', 'СТР[2]', '', 'итог: строки 1:2')");
    const QString rule = R"x("%1","(1000)","СТР[1]","=","СТР[2]","","c")x";
    const std::pair<const char *, std::function<void(const QString &)>> spoils[] = {
        {"structure file missing", [](const QString &d) { QFile::remove(d + "Ф14/Ф14.frs"); }},
        {"rule of another form", [&](const QString &d) { write(d + "Ф14/controls_Ф14.orv", {rule.arg("Ф30")}); }},
        {"manifest cut short", [](const QString &d) {
             QFile f(d + "update_manifest.json");
             f.open(QIODevice::ReadWrite);
             f.resize(f.size() / 2);
         }},
        {"manifest without forms", [](const QString &d) { write(d + "update_manifest.json", {R"({"version": "1", "year": "2024"})"}); }},
    };
    QList<std::pair<QString, QByteArray>> served;
    int n = 0;
    for (const auto &[what, spoil] : spoils)
        served.append({QString("B%1").arg(++n), package(s, {"Ф30", "Ф14"}, spoil)});
    serveList(s, served);
    const QStringList before = state(s);
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    n = 0;
    for (const auto &[what, spoil] : spoils) {
        SCOPED_TRACE(what);
        const QString version = QString("vB%1").arg(++n);
        const QString message = press(s, w, version, w.installButton());
        EXPECT_TRUE(message.startsWith("Ошибка при установке обновления.\r\n")) << message.toStdString();
        EXPECT_FALSE(message.contains("Проверьте логи"));
        EXPECT_EQ(state(s), before);
        EXPECT_EQ(db::scalar(mainDb(), "select count(*) from updates").toInt(), 0);
        EXPECT_EQ(row(w, version)->text(4), "Доступно");
        EXPECT_FALSE(logText().contains("Выполняется автоматический откат"));
    }
    // Nothing of the attempts is left in the temporary folder.
    EXPECT_EQ(QDir(s.fx.programFolder() + "temp").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{});
}

TEST(UpdateWindow, APrintFileThatCannotBeReplacedIsNamedAndTheUpdateStaysInstalled) {
    ServedSample s;
    serveList(s, {{"U1", package(s, {"Ф30", "Ф14"}, published)}});
    // The template's place is taken by a folder: renaming over it fails.
    const QString held = s.fx.yearFolder() + "forms/Ф30.txt";
    QFile::remove(held);
    ASSERT_TRUE(QDir().mkpath(held + "/inside"));
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    const QString message = press(s, w, "vU1", w.installButton());
    EXPECT_TRUE(message.startsWith("Обновление установлено, но не удалось заменить печатные файлы:")) << message.toStdString();
    EXPECT_TRUE(message.contains("Ф30.txt"));
    EXPECT_EQ(decipher("Ф30"), "Опубликовано");
    EXPECT_EQ(row(w, "vU1")->text(4), "Установлено");
    EXPECT_TRUE(QFileInfo(held).isDir());
    // Installed once: a second install is refused and the backup keeps the state before it.
    const QString backup = s.manager().backupFolder("U1");
    EXPECT_EQ(lines(backup + "/forms_backup/Ф30.frs").value(0), "Ф30#изменено#Нет");
    TUpdateManager m = s.manager();
    EXPECT_FALSE(m.InstallUpdate("U1", s.server.base() + "/pkg/U1.zip", ""));
    EXPECT_EQ(m.Message, "Обновление U1 уже установлено.");
    EXPECT_EQ(lines(backup + "/forms_backup/Ф30.frs").value(0), "Ф30#изменено#Нет");
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from updates").toInt(), 1);
    EXPECT_EQ(press(s, w, "vU1", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(decipher("Ф30"), "изменено");
}

TEST(UpdateWindow, OnlyTheLatestUpdateOfAFormRollsBackAndItTakesItsPrintFilesAlong) {
    ServedSample s;
    const QString forms = s.fx.yearFolder() + "forms/";
    // U2 changes Ф30 again and brings a template Ф30 did not have before.
    const QByteArray u1 = package(s, {"Ф30", "Ф14"}, published);
    const QByteArray u2 = package(s, {"Ф30"}, [](const QString &d) {
        write(d + "Ф30/Ф30.frs", {"Ф30#Вторая редакция#Нет"});
        write(d + "Ф30/Forms/Ф30.txt", {"вторая"});
        write(d + "Ф30/Forms/Ф30.doc", {"шаблон"});
        QString m;
        ReadJsonFile(d + "update_manifest.json", m);
        m.replace(R"(Ф30\/Forms\/Ф30.txt")", R"(Ф30\/Forms\/Ф30.txt", "Ф30\/Forms\/Ф30.doc")");
        write(d + "update_manifest.json", {m});
    });
    QFile::remove(forms + "Ф30.doc");
    serveList(s, {{"U1", u1}, {"U2", u2}});
    const QStringList before = state(s);
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    EXPECT_EQ(press(s, w, "vU1", w.installButton()), "Обновление успешно установлено");
    const QStringList afterU1 = state(s);
    EXPECT_EQ(press(s, w, "vU2", w.installButton()), "Обновление успешно установлено");
    EXPECT_EQ(decipher("Ф30"), "Вторая редакция");
    EXPECT_EQ(lines(forms + "Ф30.doc"), QStringList{"шаблон"});

    // The older one first: refused, naming the later one; nothing changes.
    const QStringList afterU2 = state(s);
    EXPECT_EQ(press(s, w, "vU1", w.rollbackButton()),
              "Ошибка при откате обновления.\r\nФорму Ф30 изменило более позднее обновление vU2. Сначала откатите его.");
    EXPECT_EQ(state(s), afterU2);

    // The later one, then the older one: back to each state before them.
    EXPECT_EQ(press(s, w, "vU2", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(decipher("Ф30"), "Опубликовано");
    EXPECT_EQ(state(s), afterU1);
    EXPECT_FALSE(QFile::exists(forms + "Ф30.doc"));
    EXPECT_EQ(press(s, w, "vU1", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(state(s), before);
}

TEST(UpdateManager, AKillAfterTheCommitIsFinishedByTheNextManager) {
    ServedSample s;
    serveList(s, {{"U1", package(s, {"Ф30", "Ф14"}, published)}});
    auto list = s.manager().CheckForUpdates();
    ASSERT_TRUE(list);
    // Every print file's place is taken for a while, so the moves after the
    // commit wait (and are tried again) when the kill comes.
    const QString forms = s.fx.yearFolder() + "forms/";
    const QStringList names = {"Ф14.doc", "Ф14.txt", "Ф30.doc", "Ф30.txt"};
    for (const QString &n : names) {
        QFile::remove(forms + n);
        ASSERT_TRUE(QDir().mkpath(forms + n + "/x"));
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(30);
        TUpdateManager m = s.manager();
        m.InstallUpdate(list->items[0]);
        _exit(0);
    }
    const QString mark = forms + ".update_staging/.update_id";
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(mark) && t.elapsed() < 20000) QThread::msleep(2);
    // The commit follows the mark; the moves wait longer (each place is
    // tried for 300 ms), so the kill comes as soon as the commit is seen.
    while (decipher("Ф30") != "Опубликовано" && t.elapsed() < 20000) QThread::msleep(2);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(decipher("Ф30"), "Опубликовано");   // committed
    for (const QString &n : names) QDir(forms + n).removeRecursively();
    // The next manager puts the staged files in place.
    TUpdateManager m = s.manager();
    EXPECT_EQ(lines(forms + "Ф30.txt"), QStringList{"новый"});
    EXPECT_FALSE(QDir(forms + ".update_staging").exists());
}

TEST(UpdateManager, ARollbackOnAFullDiskChangesNothingAndCanBeRepeated) {
    ServedSample s;
    serveList(s, {{"U1", package(s, {"Ф30", "Ф14"}, published)}});
    const QStringList prints = printFiles(s);
    auto list = s.manager().CheckForUpdates();
    ASSERT_TRUE(list);
    {
        TUpdateManager m = s.manager();
        ASSERT_TRUE(m.InstallUpdate(list->items[0]));
    }
    const QStringList installed = state(s);
    const LimitedRun run = runWithFileSizeLimit(2, [&](QString &message) {
        TUpdateManager m = s.manager();
        const bool ok = m.RollbackUpdate("U1");
        message = m.Message;
        return ok;
    });
    ASSERT_TRUE(run.finished);
    EXPECT_FALSE(run.result);
    EXPECT_TRUE(run.message.contains("Не удалось подготовить печатный файл")) << run.message.toStdString();
    EXPECT_TRUE(run.message.contains("превышен допустимый размер файла") || run.message.contains("на диске нет места"));
    EXPECT_EQ(state(s), installed);
    EXPECT_NE(printFiles(s), prints);
    EXPECT_EQ(decipher("Ф30"), "Опубликовано");

    TUpdateManager m = s.manager();
    ASSERT_TRUE(m.RollbackUpdate("U1"));
    EXPECT_EQ(decipher("Ф30"), "изменено");
    EXPECT_EQ(printFiles(s), prints);
}

TEST(UpdateWindow, InstallsListsTheInstalledUpdateAndRollsItBack) {
    ServedSample s;
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    ASSERT_EQ(w.updateList()->topLevelItemCount(), 2);
    EXPECT_EQ(w.updateList()->topLevelItem(0)->text(4), "Доступно");
    w.updateList()->setCurrentItem(w.updateList()->topLevelItem(0));
    EXPECT_TRUE(w.detailsText().contains("Формы: Ф30,Ф14"));

    EXPECT_EQ(press(s, w, "1.0", w.installButton()), "Обновление успешно установлено");
    EXPECT_EQ(s.dialogs.questions.value(0), "Установить обновление 1.0?");
    EXPECT_EQ(decipher("Ф30"), "Сведения о медицинской организации");
    // The record keeps what the list said.
    EXPECT_EQ(db::scalar(mainDb(), "select version || '|' || description || '|' || (archive_size > 0) from updates")
                  .toString(), "1.0|Формы 30 и 14|1");
    // Refreshed: U1 listed as installed and ready to roll back, U2 still offered.
    ASSERT_EQ(w.updateList()->topLevelItemCount(), 2);
    EXPECT_EQ(w.updateList()->topLevelItem(0)->text(4), "Установлено");
    EXPECT_EQ(press(s, w, "1.0", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(s.dialogs.questions.value(1), "Откатить обновление? Все изменения будут восстановлены из резервной копии.");
    EXPECT_EQ(decipher("Ф30"), "изменено");
    EXPECT_EQ(lines(s.printFile), QStringList{"свой"});
    // The rollback takes the installed versions back too.
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from installed_form_versions").toInt(), 0);
    ASSERT_EQ(w.updateList()->topLevelItemCount(), 2);
    EXPECT_EQ(w.updateList()->topLevelItem(0)->text(4), "Доступно");

    // Off the server's list, an installed update is still listed for its rollback.
    db::exec(mainDb(), "insert into updates (update_id, version, year, status, description, archive_size) "
                       "values ('OLD', '0.9', ?, 'installed', 'Прежнее', 10)", {s.fx.year()});
    w.refreshButton()->click();
    ASSERT_EQ(w.updateList()->topLevelItemCount(), 3);
    EXPECT_EQ(w.updateList()->topLevelItem(2)->text(2), "Прежнее");
    EXPECT_EQ(w.updateList()->topLevelItem(2)->text(4), "Установлено");

    EXPECT_EQ(press(s, w, "1.1", w.installButton()),   // U2: wrong checksum
              "Ошибка при установке обновления.\r\nКонтрольная сумма загруженного архива не совпадает с объявленной.");

    TUpdateForm noDb(QSqlDatabase(), 0);
    noDb.show();
    EXPECT_EQ(s.dialogs.messages.last(), "База данных не подключена");
}

TEST(UpdateWindow, CancelledDownloadsLeaveTheListAndTheFormsAsBefore) {
    ServedSample s;
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    ASSERT_EQ(w.updateList()->topLevelItemCount(), 2);
    w.updateList()->setCurrentItem(w.updateList()->topLevelItem(0));
    const QString form = decipher("Ф30");
    // "Отмена" pressed in the progress window as soon as the bytes come.
    const QMetaObject::Connection pressed = QObject::connect(Progress().gauge(), &QProgressBar::valueChanged,
                                                             [](int v) { if (v > 0) Progress().cancel(); });
    struct Case { const char *what; QPushButton *button; };
    for (const Case &c : {Case{"refresh", w.refreshButton()}, Case{"install", w.installButton()}}) {
        SCOPED_TRACE(c.what);
        s.dialogs.answers = {true};
        s.dialogs.messages.clear();
        c.button->click();
        EXPECT_EQ(s.dialogs.messages, QStringList{Cancelled::message()});
        ASSERT_EQ(w.updateList()->topLevelItemCount(), 2);
        EXPECT_EQ(w.updateList()->topLevelItem(0)->text(4), "Доступно");
        EXPECT_EQ(decipher("Ф30"), form);
        EXPECT_EQ(db::scalar(mainDb(), "select count(*) from updates").toInt(), 0);
        EXPECT_TRUE(w.refreshButton()->isEnabled());
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
    TUpdateForm w(mainDb(), s.fx.year());
    s.show(w);
    EXPECT_TRUE(s.dialogs.messages.value(0).startsWith("Не удалось загрузить список обновлений: Не удалось подключиться"))
        << s.dialogs.messages.value(0).toStdString();
    EXPECT_EQ(w.updateList()->topLevelItemCount(), 0);
}

TEST(UpdateWindow, TheCheckCommandTellsACutListFromNoUpdates) {
    ServedSample s;
    IniFile(paths::updateSettingsFile()).writeString("Настройки", "UpdateServerURL", s.url());
    shared().Year = s.fx.year();
    // Delivered whole, but cut short on the server.
    s.server.setOk("/api/v1/updates/2024/updates_list.json", R"({"updates": [{"id": "U)");
    checkForUpdatesCommand(nullptr);
    EXPECT_EQ(s.dialogs.messages, QStringList{"Список обновлений на сервере поврежден или получен не полностью."});
    s.server.setOk("/api/v1/updates/2024/updates_list.json", R"({"year": "2024", "updates": []})");
    s.dialogs.messages.clear();
    checkForUpdatesCommand(nullptr);
    EXPECT_EQ(s.dialogs.messages, QStringList{"Обновления не найдены."});
}

// A rollback puts each rule back under its key, with its table as stored (null told from empty) and its comment whole;
// a backup made before keys were kept, or with keys that do not read, still puts the rules back.
TEST(UpdateWindow, ARollbackPutsTheRulesBackUnderTheirKeys) {
    const std::pair<const char *, std::function<void(const QString &)>> backups[] = {
        {"keys kept", {}},
        // Made before the keys of the installed rules were kept: the forms' rule sets are replaced.
        {"installed keys not kept", [](const QString &keys) {
             ASSERT_TRUE(QFile::remove(QFileInfo(keys).absolutePath() + "/../installed_rule_keys.txt"));
         }},
        {"older backup", [](const QString &keys) { QFile::remove(keys); }},
        {"keys damaged", [](const QString &keys) { write(keys, {"\"x\",\"0\""}); }},
    };
    for (const auto &[what, spoil] : backups) {
        SCOPED_TRACE(what);
        ServedSample s;
        db::exec(mainDb(), "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) values "
                           "(1, '', 'Т[2000]СТР[1]ГР[4]', '>=', 'Т[1000]СТР[1]ГР[5]', '', 'итог: строки 1:2 \"#=\"'), "
                           "(1, null, 'Т[2000]СТР[1]ГР[5]', '<=', '0', '', 'ноль:')");
        db::exec(mainDb(), "delete from int_control where \"Код\"=2");   // keys with a gap
        serveList(s, {{"U1", package(s, {"Ф30", "Ф14"}, published)}});
        const QStringList rules = storedRules();
        TUpdateForm w(mainDb(), s.fx.year());
        s.open(w);
        const QString installed = press(s, w, "vU1", w.installButton());
        ASSERT_EQ(installed, "Обновление успешно установлено") << installed.toStdString() << logText().toStdString();
        ASSERT_NE(storedRules(), rules);
        const QString keys = s.manager().backupFolder("U1") + "/controls_backup/controls_Ф30.keys";
        ASSERT_TRUE(QFile::exists(keys));
        if (spoil) spoil(keys);
        EXPECT_EQ(press(s, w, "vU1", w.rollbackButton()), "Обновление откачено");
        if (!spoil || QString(what) == "installed keys not kept") {
            EXPECT_EQ(storedRules(), rules);
            continue;
        }
        // Under new keys, but each rule whole and without a null table.
        auto unkeyed = [](QStringList l) {
            for (QString &r : l) r = r.section('|', 1).replace("|NULL|", "|''|");
            l.sort();
            return l;
        };
        EXPECT_EQ(unkeyed(storedRules()), unkeyed(rules));
        EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control where tble is null").toInt(), 0);
    }
}

// The archive goes to its file as it arrives: at loopback speed the window's events keep running and the body is not
// held in memory; an archive past the limit is refused while it arrives, whether its length is declared or not, and
// leaves nothing behind.
TEST(UpdateWindow, ALargeArchiveKeepsTheWindowLiveAndOneTooLargeIsRefused) {
    ServedSample s;
    const qint64 large = 100 << 20;
    const std::pair<const char *, qint64> archives[] = {
        {"LARGE", large}, {"DECLARED", kMaxArchiveBytes + 1}, {"ENDLESS", kMaxArchiveBytes + 1}};
    QStringList entries;
    for (const auto &[id, size] : archives) {
        s.server.setSized(QString("/pkg/%1.zip").arg(id), size, QByteArray(id) != "ENDLESS");
        entries << entry(s, id, size, QString(64, 'a'), R"("Ф30")");
    }
    serveEntries(s, entries);
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);

    // Ticks of the event loop while the bytes come (the checksum after them is not timed).
    QElapsedTimer clock;
    qint64 last = -1, gap = 0;
    bool arriving = true;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (last >= 0 && arriving) gap = std::max(gap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    const QMetaObject::Connection done = QObject::connect(Progress().gauge(), &QProgressBar::valueChanged,
                                                          [&](int v) { arriving = v < 99; });
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    clock.start();
    tick.start();
    EXPECT_EQ(press(s, w, "vLARGE", w.installButton()),
              "Ошибка при установке обновления.\r\nКонтрольная сумма загруженного архива не совпадает с объявленной.");
    tick.stop();
    QObject::disconnect(done);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_LT(gap, 250) << "the event loop stood still for " << gap << " ms";
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 48 * 1024) << "kB more at the peak";

    for (const char *id : {"DECLARED", "ENDLESS"}) {
        SCOPED_TRACE(id);
        const QString message = press(s, w, QString("v%1").arg(id), w.installButton());
        EXPECT_EQ(message, QString("Ошибка при установке обновления.\r\nНе удалось загрузить архив обновления: "
                                   "Ответ сервера слишком велик: больше %1 байт").arg(kMaxArchiveBytes));
        EXPECT_EQ(row(w, QString("v%1").arg(id))->text(4), "Доступно");
    }
    EXPECT_EQ(QDir(s.fx.programFolder() + "temp").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{});
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from updates").toInt(), 0);
}

// A server whose certificate is not trusted: the list and the archive are
// refused with the reason, and nothing is installed.
TEST(UpdateWindow, AnUntrustedCertificateIsNamedInTheMessage) {
    ServedSample s;
    TestTlsServer tls;
    ASSERT_TRUE(tls.ready());
    const QString refused = "Не удалось установить защищённое соединение с 127.0.0.1: сертификат сервера не принят";
    IniFile(paths::updateSettingsFile()).writeString("Настройки", "UpdateServerURL", tls.base() + "/api/v1/updates/");
    {
        TUpdateForm w(mainDb(), s.fx.year());
        s.show(w);
        EXPECT_EQ(s.dialogs.messages.value(0), "Не удалось загрузить список обновлений: " + refused);
    }
    s.server.setOk("/api/v1/updates/2024/updates_list.json",
                   QString(R"({"year": "2024", "updates": [{"id": "S1", "version": "vS1", "forms": ["Ф30"], )"
                           R"("size": 10, "downloadUrl": "%1/pkg/S1.zip", "checksum": "%2"}]})")
                       .arg(tls.base(), QString(64, 'a')).toUtf8());
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    EXPECT_EQ(press(s, w, "vS1", w.installButton()),
              "Ошибка при установке обновления.\r\nНе удалось загрузить архив обновления: " + refused);
    EXPECT_EQ(row(w, "vS1")->text(4), "Доступно");
    EXPECT_EQ(decipher("Ф30"), "изменено");
}

namespace {

// The rule between Ф14 and Ф30 as a control line, with its comment changed.
const QString kSharedRule = R"("","","Ф14Т[1000]СТР[1]ГР[4]","<=","Ф30Т[2000]СТР[1]ГР[4]","","%1")";

// Rewrites the rule between forms in the control file of the form.
void editSharedRule(const QString &dir, const QString &form, const QString &comment) {
    const QString file = dir + form + "/controls_" + form + ".orv";
    QStringList l = lines(file);
    bool found = false;
    for (QString &line : l)
        if (line.startsWith("\"\",")) {
            line = kSharedRule.arg(comment);
            found = true;
        }
    ASSERT_TRUE(found) << file.toStdString();
    write(file, l);
}

QString sharedRuleComment() {
    return db::scalar(mainDb(), "select group_concat(commnt, '|') from int_control where formid=0").toString();
}

} // namespace

// Update A changes the rule between Ф30 and Ф14 through Ф30, update B through Ф14: A cannot be rolled back under B,
// and each rollback brings back its forms' rule sets exactly as they were before it.
TEST(UpdateWindow, TwoUpdatesSharingARuleBetweenFormsRollBackLatestFirst) {
    ServedSample s;
    const QByteArray a = package(s, {"Ф30"}, [](const QString &d) { editSharedRule(d, "Ф30", "редакция A"); });
    const QByteArray b = package(s, {"Ф14"}, [](const QString &d) { editSharedRule(d, "Ф14", "редакция B"); });
    serveList(s, {{"A", a}, {"B", b}});
    const QStringList before = state(s);
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    ASSERT_EQ(press(s, w, "vA", w.installButton()), "Обновление успешно установлено");
    EXPECT_EQ(sharedRuleComment(), "редакция A");
    const QStringList afterA = state(s);
    ASSERT_EQ(press(s, w, "vB", w.installButton()), "Обновление успешно установлено");
    EXPECT_EQ(sharedRuleComment(), "редакция B");
    const QStringList afterB = state(s);

    EXPECT_EQ(press(s, w, "vA", w.rollbackButton()),
              "Ошибка при откате обновления.\r\nКонтроль между формами Ф14Т[1000]СТР[1]ГР[4] <= Ф30Т[2000]СТР[1]ГР[4] "
              "изменило более позднее обновление vB. Сначала откатите его.");
    EXPECT_EQ(state(s), afterB);
    EXPECT_EQ(row(w, "vB")->text(4), "Установлено");

    EXPECT_EQ(press(s, w, "vB", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(state(s), afterA);
    // A rule between the forms added by the user after A belongs to Ф30's rule set, which the rollback brings back
    // exactly as A's backup holds it.
    db::exec(mainDb(), "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) values "
                       "(0, '', 'Ф30Т[1000]СТР[1]ГР[4]', '>=', 'Ф14Т[1000]СТР[1]ГР[4]', '', 'свой')");
    EXPECT_EQ(press(s, w, "vA", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(state(s), before);
    EXPECT_EQ(sharedRuleComment(), "Выписанных не больше посещений");
}

// The publisher's form is "ф30", the user's "Ф30": the update changes Ф30 and its own print files, rolls back, and a
// later update of "Ф30" holds it back.
TEST(UpdateWindow, AManifestInAnotherLetterCaseChangesTheStoredForm) {
    ServedSample s;
    const QString forms = s.fx.yearFolder() + "forms/";
    db::exec(mainDb(), "update forms set formname='ф30' where formname='Ф30'");
    ASSERT_TRUE(QFile::rename(forms + "Ф30.txt", forms + "ф30.txt"));
    const QByteArray lower = package(s, {"ф30"}, [](const QString &d) {
        write(d + "ф30/ф30.frs", {"ф30#Опубликовано#Нет"});
        write(d + "ф30/Forms/ф30.txt", {"новый"});
    });
    db::exec(mainDb(), "update forms set formname='Ф30' where formname='ф30'");
    ASSERT_TRUE(QFile::rename(forms + "ф30.txt", forms + "Ф30.txt"));
    const QByteArray upper = package(s, {"Ф30"}, published);
    serveList(s, {{"L", lower}, {"U", upper}});
    const QStringList before = state(s);
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    ASSERT_EQ(press(s, w, "vL", w.installButton()), "Обновление успешно установлено");
    EXPECT_EQ(decipher("Ф30"), "Опубликовано");
    EXPECT_EQ(lines(forms + "Ф30.txt"), QStringList{"новый"});
    EXPECT_FALSE(QDir(forms).entryList(QDir::Files).contains("ф30.txt"));
    EXPECT_EQ(db::scalar(mainDb(), "select group_concat(form_name) from installed_form_versions").toString(), "Ф30");
    const QStringList afterL = state(s);

    ASSERT_EQ(press(s, w, "vU", w.installButton()), "Обновление успешно установлено");
    EXPECT_EQ(press(s, w, "vL", w.rollbackButton()),
              "Ошибка при откате обновления.\r\nФорму Ф30 изменило более позднее обновление vU. Сначала откатите его.");
    EXPECT_EQ(press(s, w, "vU", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(state(s), afterL);
    EXPECT_EQ(press(s, w, "vL", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(state(s), before);
}

// A rule of the backup that the check refuses today (a row of its table deleted since) comes back all the same and is
// named; the log says what the check refused.
TEST(UpdateWindow, ABackupRuleTheCheckRefusesTodayIsRestoredAndNamed) {
    ServedSample s;
    // A package whose rule the check refuses is not installed, and the log says so.
    const QByteArray refused = package(s, {"Ф30"}, [](const QString &d) {
        QStringList l = lines(d + "Ф30/controls_Ф30.orv");
        l << R"x("Ф30","(1000)","СТР[99]","=","0","","вне таблицы")x";
        write(d + "Ф30/controls_Ф30.orv", l);
    });
    serveList(s, {{"U1", package(s, {"Ф30"}, published)}, {"R", refused}});
    const QStringList rules = storedRules();
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    EXPECT_TRUE(press(s, w, "vR", w.installButton()).startsWith("Ошибка при установке обновления."));
    EXPECT_TRUE(logText().contains("ERROR: Контроли формы Ф30 не установлены: правил, не прошедших проверку, — 1"));
    ASSERT_EQ(press(s, w, "vU1", w.installButton()), "Обновление успешно установлено");
    // The structure editor deletes the last row of table (1000) and leaves the rules as they are.
    db::exec(mainDb(), "update tables set rowcount=rowcount-1 where tablen='(1000)' and form="
                       "(select id from forms where formname='Ф30')");
    ASSERT_FALSE(rulecheck::CheckRule(mainDb(), {"Ф30", "(1000)", "ГР[7]", "<=", "ГР[6]", "СТР[1..5]"}));
    const QString message = press(s, w, "vU1", w.rollbackButton());
    EXPECT_TRUE(message.startsWith("Обновление откачено\r\nВосстановлены контроли, которые сейчас не проходят проверку:\r\n"
                                   "\"Ф30\",\"(1000)\",\"ГР[7]\",\"<=\",\"ГР[6]\",\"СТР[1..5]\",\"Женщин не больше физических лиц\""))
        << message.toStdString();
    EXPECT_EQ(storedRules(), rules);
    EXPECT_EQ(decipher("Ф30"), "изменено");
    EXPECT_TRUE(logText().contains("WARNING: Восстановлен контроль, который не проходит проверку: "));
    EXPECT_FALSE(logText().contains("не относящиеся к ней"));
    // Each begin and end line once; the print files put back are logged.
    EXPECT_EQ(logText().count("INFO: Начат откат обновления: U1"), 1);
    EXPECT_EQ(logText().count("INFO: Откат обновления завершен: U1"), 1);
    EXPECT_TRUE(logText().contains("INFO: Восстановлен печатный файл: Ф30.txt"));
}

// A rollback killed at each of its steps: the next manager leaves the database and the print files both as the update
// made them or both as before it.
TEST(UpdateManager, ARollbackKilledAtEachStepIsFinishedOrUndoneAsOne) {
    ServedSample s;
    const QString forms = s.fx.yearFolder() + "forms/";
    // The update replaces Ф30's mapping and adds a template Ф14 did not have.
    const QByteArray u1 = package(s, {"Ф30", "Ф14"}, [](const QString &d) {
        published(d);
        write(d + "Ф14/Forms/Ф14.doc", {"шаблон"});
    });
    serveList(s, {{"U1", u1}});
    const QStringList before = state(s);
    auto list = s.manager().CheckForUpdates();
    ASSERT_TRUE(list);
    const auto install = [&] {
        TUpdateManager m = s.manager();
        ASSERT_TRUE(m.InstallUpdate(list->items[0])) << m.Message.toStdString();
    };
    install();
    const QStringList installed = state(s);
    ASSERT_NE(installed, before);
    const auto status = [] { return db::scalar(mainDb(), "select status from updates order by id desc").toString(); };
    int committedAt = -1;
    for (int k = 0;; ++k) {
        SCOPED_TRACE(k);
        ASSERT_LT(k, 40);
        QTemporaryFile reached;
        ASSERT_TRUE(reached.open());
        const QString reachedPath = reached.fileName();
        const ChildEnd end = runInChild([&] {
            int n = 0;
            SetRollbackStepObserver([&](const char *step) {
                QFile f(reachedPath);
                f.open(QIODevice::WriteOnly | QIODevice::Truncate);
                f.write(step);
                f.close();
                if (n++ == k) raise(SIGKILL);
            });
            TUpdateManager m = s.manager();
            _exit(m.RollbackUpdate("U1") ? 0 : 1);
        });
        const QString step = QString::fromUtf8(fileBytes(reachedPath));
        if (!end.killed) {
            EXPECT_EQ(end.code, 0);
            EXPECT_GT(k, 3);
            EXPECT_EQ(state(s), before);
            break;
        }
        TUpdateManager next = s.manager();   // the next start
        if (step == "committed" && committedAt < 0) committedAt = k;
        if (status() == "installed") {
            EXPECT_EQ(state(s), installed) << step.toStdString();
            EXPECT_TRUE(step != "committed") << step.toStdString();
        } else {
            EXPECT_EQ(state(s), before) << step.toStdString();
            EXPECT_EQ(step, "committed");
            install();
        }
    }
    EXPECT_GT(committedAt, 0);
    EXPECT_TRUE(logText().contains("WARNING: Откат обновления был прерван; печатные файлы возвращены как были: U1"));
}

// The form's Word template is a .docx: the package carries it, the installer puts it in place, the rollback brings the
// user's back.
TEST(UpdateWindow, ADocxTemplateIsShippedInstalledAndRolledBack) {
    ServedSample s;
    const QString forms = s.fx.yearFolder() + "forms/";
    const QByteArray mine = fileBytes(forms + "Ф30.docx");
    ASSERT_FALSE(mine.isEmpty());
    QString manifest;
    const QByteArray u1 = package(s, {"Ф30"}, [&](const QString &d) {
        EXPECT_EQ(fileBytes(d + "Ф30/Forms/Ф30.docx"), mine);
        ReadJsonFile(d + "update_manifest.json", manifest);
        write(d + "Ф30/Forms/Ф30.docx", {"новый шаблон"});
    });
    EXPECT_TRUE(manifest.contains(R"("Ф30\/Forms\/Ф30.doc",)" "\r\n" R"(        "Ф30\/Forms\/Ф30.docx",)"))
        << manifest.toStdString();
    serveList(s, {{"U1", u1}});
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    ASSERT_EQ(press(s, w, "vU1", w.installButton()), "Обновление успешно установлено");
    EXPECT_EQ(lines(forms + "Ф30.docx"), QStringList{"новый шаблон"});
    EXPECT_EQ(press(s, w, "vU1", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(fileBytes(forms + "Ф30.docx"), mine);

    // A package whose template is a .doc: the user's .docx, which the print would take first, goes with the update
    // and comes back with its rollback.
    const QByteArray u2 = package(s, {"Ф30"}, [&](const QString &d) {
        QFile::remove(d + "Ф30/Forms/Ф30.docx");
        write(d + "Ф30/Forms/Ф30.doc", {"шаблон .doc"});
    });
    serveList(s, {{"U2", u2}});
    w.refreshButton()->click();
    ASSERT_EQ(press(s, w, "vU2", w.installButton()), "Обновление успешно установлено");
    EXPECT_EQ(lines(forms + "Ф30.doc"), QStringList{"шаблон .doc"});
    EXPECT_FALSE(QFile::exists(forms + "Ф30.docx"));
    EXPECT_EQ(press(s, w, "vU2", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(fileBytes(forms + "Ф30.docx"), mine);
    EXPECT_FALSE(QFile::exists(forms + "Ф30.doc"));
}

// A package of a form the database does not have installs the form with its tables, rows, columns, titles and rules.
TEST(UpdateWindow, APackageOfANewFormInstallsItWithItsTablesAndRules) {
    ServedSample s;
    const qint64 f14 = db::scalar(mainDb(), "select id from forms where formname='Ф14'").toLongLong();
    const QStringList structure = frs::formLines(mainDb(), f14);
    const QStringList rules = ctlfile::ControlFileLinesForForm(mainDb(), f14, "Ф14");
    ASSERT_GT(rules.size(), 1);
    // The publisher's Ф14 has a template and a cell mapping.
    const QString forms = s.fx.yearFolder() + "forms/";
    write(forms + "Ф14.docx", {"шаблон Ф14"});
    write(forms + "Ф14.txt", {"1,1,1,<всего>,1,1,1"});
    serveList(s, {{"N1", package(s, {"Ф14"})}});
    // The user's configuration has no Ф14, nor its print files.
    const QStringList prints = printFiles(s);
    for (const char *f : {"Ф14.docx", "Ф14.txt"}) ASSERT_TRUE(QFile::remove(forms + f));
    for (const char *table : {"titles", "\"rows\"", "\"columns\""})
        db::exec(mainDb(), QString("delete from %1 where \"table\" in (select ident from tables where form=?)").arg(table),
                 {f14});
    db::exec(mainDb(), "delete from tables where form=?", {f14});
    db::exec(mainDb(), "delete from int_control where formid=? or formid=0", {f14});
    db::exec(mainDb(), "delete from forms where id=?", {f14});
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    const QString message = press(s, w, "vN1", w.installButton());
    ASSERT_EQ(message, "Обновление успешно установлено") << message.toStdString() << logText().toStdString();
    const qint64 added = db::scalar(mainDb(), "select id from forms where formname='Ф14'").toLongLong();
    ASSERT_GT(added, 0);
    EXPECT_EQ(frs::formLines(mainDb(), added), structure);
    EXPECT_EQ(ctlfile::ControlFileLinesForForm(mainDb(), added, "Ф14"), rules);
    EXPECT_EQ(printFiles(s), prints);
    // The form the update made stays at its rollback, with its rules and its print files: it can still be printed.
    EXPECT_EQ(press(s, w, "vN1", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(frs::formLines(mainDb(), added), structure);
    EXPECT_EQ(ctlfile::ControlFileLinesForForm(mainDb(), added, "Ф14"), rules);
    EXPECT_EQ(printFiles(s), prints);
}

namespace {

// A package of one form with only the parts chosen, its form line changed to "<id> <form>".
QByteArray partPackage(ServedSample &s, const QString &id, const QString &form, const FormPackageOptions &parts) {
    static int n = 0;
    const QString root = s.fx.root() + QString("part%1/").arg(++n);
    const QString archive = GenerateUpdatePackage(mainDb(), {form}, {parts}, {}, "", "", root + "out", "Пакет",
                                                  s.fx.year(), "1.0");
    EXPECT_TRUE(ExtractZipArchive(archive, root + "x"));
    const QString frs = root + "x/" + form + "/" + form + ".frs";
    if (QFile::exists(frs)) {
        QStringList l = lines(frs);
        l[0] = form + "#" + id + " " + form + "#Нет";
        write(frs, l);
    }
    EXPECT_TRUE(CreateZipArchive(root + "x", root + "p.zip"));
    return fileBytes(root + "p.zip");
}

} // namespace

// Each kind of thing an update changes, changed again by a later update: the older one's rollback is refused and
// names the later one; a later update that changed something else lets it roll back, keeping the later one's change.
TEST(UpdateManager, ALaterUpdateHoldsBackARollbackExactlyWhenItChangedTheSameThing) {
    const FormPackageOptions line{"", true, false, false, "1", ""}, rules{"", false, true, false, "", "1"},
        prints{"", false, false, true, "", ""};
    struct Case {
        const char *what;
        QString formA;
        FormPackageOptions partsA;
        QString formB;
        FormPackageOptions partsB;
        QString refusal;   // empty: the rollback of A goes through
    };
    const QString later = " изменило более позднее обновление vB. Сначала откатите его.";
    const Case cases[] = {
        {"form line, then print files", "Ф30", line, "Ф30", prints, "Форму Ф30" + later},
        {"rules, then the rules of the other form of a shared rule", "Ф30", rules, "Ф14", rules,
         "Контроль между формами Ф14Т[1000]СТР[1]ГР[4] <= Ф30Т[2000]СТР[1]ГР[4]" + later},
        {"rules, then the line of the other form", "Ф30", rules, "Ф14", line, ""},
        {"rules, then an unrelated form", "Ф30", rules, "Ф47", line, ""},
        {"print files, then rules of another form", "Ф30", prints, "Ф14", rules, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ServedSample s;
        const QByteArray a = partPackage(s, "A", c.formA, c.partsA);
        const QByteArray b = partPackage(s, "B", c.formB, c.partsB);
        serveList(s, {{"A", a}, {"B", b}});
        const QStringList before = state(s);
        const QString captionB = decipher(c.formB);
        auto list = s.manager().CheckForUpdates();
        ASSERT_TRUE(list);
        for (const UpdateEntry &e : list->items) {
            TUpdateManager m = s.manager();
            ASSERT_TRUE(m.InstallUpdate(e)) << m.Message.toStdString();
        }
        const QStringList afterB = state(s);
        const QString bCaption = decipher(c.formB);
        TUpdateManager m = s.manager();
        if (!c.refusal.isEmpty()) {
            EXPECT_FALSE(m.RollbackUpdate("A"));
            EXPECT_EQ(m.Message, c.refusal);
            EXPECT_EQ(state(s), afterB);
            continue;
        }
        ASSERT_TRUE(m.RollbackUpdate("A")) << m.Message.toStdString();
        EXPECT_EQ(decipher(c.formB), bCaption);   // B's change stays
        ASSERT_TRUE(m.RollbackUpdate("B")) << m.Message.toStdString();
        EXPECT_EQ(state(s), before);
        EXPECT_EQ(decipher(c.formB), captionB);
    }
}

// A form of the update renamed (or deleted) since the install: the rollback cannot bring back what the update changed
// and says so; nothing changes, and under the old name it rolls back.
TEST(UpdateWindow, ARollbackOfAFormRenamedSinceTheInstallIsRefusedAndNamesIt) {
    ServedSample s;
    const QByteArray u = package(s, {"Ф30"}, published);
    serveList(s, {{"U", u}});
    const QStringList before = state(s);
    TUpdateForm w(mainDb(), s.fx.year());
    s.open(w);
    ASSERT_EQ(press(s, w, "vU", w.installButton()), "Обновление успешно установлено");
    db::exec(mainDb(), "update forms set formname='Ф31' where formname='Ф30'");
    const QString forms = s.fx.yearFolder() + "forms/";
    for (const char *ext : {".txt", ".docx"}) ASSERT_TRUE(QFile::rename(forms + "Ф30" + ext, forms + "Ф31" + ext));
    const QStringList renamed = storedRules() + printFiles(s);

    EXPECT_EQ(press(s, w, "vU", w.rollbackButton()),
              "Ошибка при откате обновления.\r\nФормы Ф30 нет в перечне форм: после установки обновления она "
              "переименована или удалена. Откат не выполнен.");
    EXPECT_EQ(storedRules() + printFiles(s), renamed);
    EXPECT_EQ(row(w, "vU")->text(4), "Установлено");

    db::exec(mainDb(), "update forms set formname='Ф30' where formname='Ф31'");
    for (const char *ext : {".txt", ".docx"}) ASSERT_TRUE(QFile::rename(forms + "Ф31" + ext, forms + "Ф30" + ext));
    EXPECT_EQ(press(s, w, "vU", w.rollbackButton()), "Обновление откачено");
    EXPECT_EQ(state(s), before);
}
