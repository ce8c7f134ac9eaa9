// Every writer of a file the user keeps goes through a writer that puts the new file in place only when it is complete:
// a full disk and a target that cannot be replaced leave the old file (or whatever stands there) as it was and say why
// in Russian. The source scan keeps new writers behind them.
#include "engine/ControlFileLines.h"
#include "platform/Codepage.h"
#include "platform/Http.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/WordDocument.h"
#include "reports/DbfFile.h"
#include "support/Files.h"
#include "support/SourceScan.h"
#include "support/ChildProcess.h"
#include "support/TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A writer of one kind of file: writes a file of some kilobytes to path and
// returns the error text (empty when it succeeded).
struct FileWriter { const char *what; std::function<QString(const QString &path)> write; };

QString caught(const std::function<void()> &f) {
    try {
        f();
    } catch (const AppError &e) {
        return e.message();
    }
    return {};
}

QStringList manyLines() {
    QStringList lines;
    for (int i = 0; i < 400; ++i)
        lines << QStringLiteral("\"Ф30\",\"(1000)\",\"СТР[%1]\",\"=\",\"СТР[2]\",\"\",\"строка %1: Ёё\"").arg(i);
    return lines;
}

const QList<FileWriter> &writers() {
    static TestHttpServer *server = [] {
        auto *s = new TestHttpServer;
        s->setOk("/big.zip", QByteArray(20000, 'z'));
        return s;
    }();
    static const QList<FileWriter> list = {
        {"text file", [](const QString &p) {
             QString why;
             // Its callers name the file.
             return cp1251::writeLines(p, manyLines(), &why) ? QString() : "Не удалось записать файл " + p + ": " + why;
         }},
        {"rule file", [](const QString &p) { return caught([&] { ctlfile::WriteControlFile(p, manyLines()); }); }},
        {"Word document", [](const QString &p) {
             return caught([&] {
                 office::WordDocument doc = office::WordDocument::createBlank();
                 doc.insertAfter(manyLines().join(u'\r'));
                 doc.saveAs(p);
             });
         }},
        {"Excel workbook", [](const QString &p) {
             return caught([&] {
                 office::ExcelWorkbook book = office::ExcelWorkbook::create();
                 const QStringList lines = manyLines();
                 for (int i = 0; i < lines.size(); ++i) book.activeSheet().setValue(i + 1, 1, lines[i]);
                 book.saveAs(p);
             });
         }},
        {"DBF table", [](const QString &p) {
             return caught([&] {
                 dbf::Writer w(p, {dbf::charField("TEXT", 200), dbf::numericField("N", 15, 2)});
                 w.open();
                 for (const QString &l : manyLines()) w.append({l, 10.1});
                 w.commit();
             });
         }},
        {"download", [](const QString &p) { return caught([&] { HttpGetToFile(server->base() + "/big.zip", p); }); }},
    };
    return list;
}

} // namespace

TEST(FileWriters, AFullDiskLeavesTheOldFileAndSaysWhy) {
    QTemporaryDir dir;
    for (const FileWriter &w : writers()) {
        SCOPED_TRACE(w.what);
        const QString path = dir.filePath("файл");
        ASSERT_TRUE(cp1251::writeFile(path, "old"));
        ASSERT_TRUE(w.write(dir.filePath("whole")).isEmpty());   // the writer works where there is room
        const LimitedRun run = runWithFileSizeLimit(2048, [&](QString &message) {
            message = w.write(path);
            return message.isEmpty();
        });
        ASSERT_TRUE(run.finished);
        EXPECT_FALSE(run.result);
        EXPECT_TRUE(run.message.contains(path) && run.message.contains("превышен допустимый размер файла"))
            << run.message.toStdString();
        EXPECT_EQ(fileBytes(path), "old");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"whole", "файл"}));
        QFile::remove(dir.filePath("whole"));
    }
}

TEST(FileWriters, ATargetThatCannotBeReplacedStaysAndIsNamed) {
    QTemporaryDir dir;
    for (const FileWriter &w : writers()) {
        SCOPED_TRACE(w.what);
        // A folder of the same name cannot be replaced by a file.
        const QString path = dir.filePath("занято");
        ASSERT_TRUE(QDir().mkpath(path + "/внутри"));
        const QString message = w.write(path);
        EXPECT_TRUE(message.contains(path)) << message.toStdString();
        EXPECT_FALSE(message.contains(QRegularExpression("[A-Za-z]{4,}[ .]"))) << message.toStdString();
        EXPECT_TRUE(QDir(path + "/внутри").exists());
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{"занято"});
    }
}

// Opening a file for writing, copying or renaming one happens only in the writers that put a complete file in place,
// and where files are moved as a whole; a new writer elsewhere has to go through them.
TEST(FileWriters, NoWriterBypassesTheCompleteFileWriters) {
    const QStringList allowed = {
        "platform/Codepage.cpp",           // the writer of whole files, and appends to logs
        "platform/Http.cpp",               // downloads streamed to a file put in place when complete
        "reports/DbfFile.cpp", "reports/DbfFile.h",   // tables streamed to a file put in place when complete
        "platform/office/Package.cpp",     // documents built in memory, then the writer of whole files
        "updates/UpdateSupport.cpp",       // unpacking into the temporary folder; packages zipped aside
        "updates/UpdateInstaller.cpp",     // staged print files moved in with the installation
        "forms/output/ExcelOutput.cpp",           // complete workbooks moved over the old ones
        "forms/output/WordOutput.cpp",            // a report copy of the older naming renamed whole to its unit's name
        "forms/shared/TransferFiles.cpp",         // a group unload's complete files moved over the old ones at its end
        "app/Configuration.cpp",           // a configuration's folders swapped whole
        "platform/IniFile.cpp",            // a copy of a settings file it cannot read, kept beside it
        "engine/CatalogRename.cpp",        // a form's print files renamed whole with the form
    };
    static const QRegularExpression writes(
        "QIODevice::(WriteOnly|ReadWrite|Append)|QFile::(WriteOnly|ReadWrite|Append|copy|rename)\\b|QSaveFile|"
        "ZIP_CREATE|ZIP_TRUNCATE|zip_open_from_source|std::ofstream|\\bfopen\\(|filesystem::(rename|copy)|"
        "QDir\\(\\)\\.rename|\\bQTemporaryFile\\b");
    QStringList offenders, seen;
    for (const auto &[rel, text] : productSources().asKeyValueRange())
        if (text.contains(writes)) (allowed.contains(rel) ? seen : offenders) << rel;
    EXPECT_EQ(offenders, QStringList());
    QStringList expected = allowed;
    expected.sort(), seen.sort();
    EXPECT_EQ(seen, expected);   // an entry no longer needed is taken off the list
}
