#pragma once
// The update tests' sample: the sample configuration, a package of its Ф30 and Ф14 on a local update server, and the
// helpers that build packages, serve them and read back what an install or a rollback changes.
#include "support/Files.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "support/QueryRows.h"
#include "support/TestHttpServer.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "updates/UpdateGenerator.h"
#include "updates/UpdateManager.h"
#include "updates/UpdateSupport.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <functional>

namespace updtest {

inline QSqlDatabase mainDb() { return db::connection(db::kMain); }

inline QString decipher(const QString &form, const QSqlDatabase &d = mainDb()) {
    return db::scalar(d, "select decipher from forms where formname=?", {form}).toString();
}

inline QStringList lines(const QString &path) {
    QStringList l;
    cp1251::readLines(path, l);
    return l;
}

inline QString logText() {
    return QFile::exists(UpdateLogFileName()) ? cp1251::decode(fileBytes(UpdateLogFileName())) : QString();
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
        const QByteArray bytes = fileBytes(archive);
        checksum = FileSha256Hex(archive);
        server.setOk("/pkg/U1.zip", bytes);
        server.setOk("/pkg/U2.zip", bytes);
        const QByteArray list =
            QString(R"({"year": "2024", "lastUpdate": "2024-12-01", "updates": [
  {"id": "U1", "version": "1.0", "releaseDate": "2024-11-01", "description": "Формы 30 и 14",
   "forms": ["Ф30", "Ф14"], "size": %1, "downloadUrl": "%2/pkg/U1.zip", "checksum": "%3"},
  {"id": "U2", "version": "1.1", "releaseDate": "2024-12-01", "description": "Повтор",
   "forms": ["Ф30"], "size": %1, "downloadUrl": "%2/pkg/U2.zip", "checksum": "%4"}]})")
                .arg(bytes.size()).arg(server.base()).arg(checksum).arg(QString(64, 'a')).toUtf8();
        server.setOk("/api/v1/updates/2024/updates_list.json", list);
        printFile = fx.yearFolder() + "forms/Ф30.txt";
        db::exec(mainDb(), "update forms set decipher='изменено' where formname='Ф30'");
        cp1251::writeLines(printFile, {"свой"});
    }
    ~ServedSample() { CloseUpdateLogger(); }

    QString url() const { return server.base() + "/api/v1/updates/"; }
    TUpdateManager manager() {
        return TUpdateManager(mainDb(), fx.year(), url(), fx.programFolder() + "temp/");
    }
    void show(TUpdateForm &w) { w.show(); }
    // The update window on this server, shown (which lists the updates).
    void open(TUpdateForm &w) {
        IniFile(paths::updateSettingsFile()).writeString("Настройки", "UpdateServerURL", url());
        show(w);
    }
};


// The package's Ф30 differs from the user's: its form line and its cell mapping.
inline void published(const QString &dir) {
    ASSERT_TRUE(cp1251::writeLines(dir + "Ф30/Ф30.frs", {"Ф30#Опубликовано#Нет"}));
    ASSERT_TRUE(cp1251::writeLines(dir + "Ф30/Forms/Ф30.txt", {"новый"}));
}

// Every rule as stored: key, form, table (NULL told from empty), sides, relation, cycle, comment.
inline QStringList storedRules(const QSqlDatabase &d = mainDb()) {
    return queryRows(d, "select \"Код\", formid, quote(tble), lft, reltion, rght, cycl, commnt "
                        "from int_control order by \"Код\"");
}

// The print files of a year folder with their checksums.
inline QStringList printFiles(const QString &yearFolder) {
    QStringList out;
    const QDir forms(yearFolder + "forms");
    for (const QString &f : forms.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
        out << f + "=" + FileSha256Hex(forms.filePath(f));
    return out;
}
inline QStringList printFiles(const ServedSample &s) { return printFiles(s.fx.yearFolder()); }

// The rules, the print files and Ф30's caption: what an install or a rollback changes.
inline QStringList state(const ServedSample &s) { return storedRules() + printFiles(s) + QStringList{decipher("Ф30")}; }

// A package of the forms as published now, changed by edit after unpacking.
inline QByteArray package(ServedSample &s, const QStringList &forms, const std::function<void(const QString &)> &edit = {}) {
    static int n = 0;
    const QString root = s.fx.root() + QString("pkg%1/").arg(++n);
    const FormPackageOptions all{"", true, true, true, "1.0.0", "1.0.0"};
    const QString archive = GenerateUpdatePackage(mainDb(), forms, QList<FormPackageOptions>(forms.size(), all), {}, "",
                                                  "", root + "out", "Пакет", s.fx.year(), "1.0");
    if (edit) {
        EXPECT_TRUE(ExtractZipArchive(archive, root + "x"));
        edit(root + "x/");
        QFile::remove(root + "p.zip");
        EXPECT_TRUE(CreateZipArchive(root + "x", root + "p.zip"));
    }
    return fileBytes(edit ? root + "p.zip" : archive);
}

// One update of the year's list: version "v" + id, its archive at /pkg/<id>.zip.
inline QString entry(ServedSample &s, const QString &id, qint64 size, const QString &checksum, const QString &forms) {
    return QString(R"({"id": "%1", "version": "v%1", "releaseDate": "2024-12-01", "description": "", )"
                   R"("forms": [%5], "size": %2, "downloadUrl": "%3/pkg/%1.zip", "checksum": "%4"})")
        .arg(id).arg(size).arg(s.server.base(), checksum, forms);
}

inline void serveEntries(ServedSample &s, const QStringList &entries) {
    s.server.setOk("/api/v1/updates/2024/updates_list.json",
                   ("{\"year\": \"2024\", \"updates\": [" + entries.join(",") + "]}").toUtf8());
}

// The packages as the year's list, in order.
inline void serveList(ServedSample &s, const QList<std::pair<QString, QByteArray>> &packages) {
    QStringList entries;
    for (const auto &[id, bytes] : packages) {
        s.server.setOk("/pkg/" + id + ".zip", bytes);
        QTemporaryFile t;
        t.open();
        t.write(bytes);
        t.flush();
        entries << entry(s, id, bytes.size(), FileSha256Hex(t.fileName()), "");
    }
    serveEntries(s, entries);
}

inline QTreeWidgetItem *row(TUpdateForm &w, const QString &version) {
    for (int i = 0; i < w.updateList()->topLevelItemCount(); ++i)
        if (w.updateList()->topLevelItem(i)->text(0) == version) return w.updateList()->topLevelItem(i);
    return nullptr;
}

// "Установить" or "Откатить" on the row of the version, answered Yes; the message shown.
inline QString press(ServedSample &s, TUpdateForm &w, const QString &version, QPushButton *button) {
    w.updateList()->setCurrentItem(row(w, version));
    s.dialogs.answers = {true};
    s.dialogs.messages.clear();
    button->click();
    return s.dialogs.messages.value(0);
}

inline void write(const QString &path, const QStringList &l) { ASSERT_TRUE(cp1251::writeLines(path, l)); }

} // namespace updtest
