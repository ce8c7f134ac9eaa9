#include "support/Files.h"
#include "support/FakeDialogs.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "updates/UpdateSupport.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zip.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(UpdateLog, LineFormatDailyFileAndDroppedLines) {
    CloseUpdateLogger();
    const QRegularExpression re(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] WARNING: текст$)");
    EXPECT_TRUE(re.match(FormatLogLine(LogLevel::Warning, "текст")).hasMatch()) << FormatLogLine(LogLevel::Warning, "текст").toStdString();

    QTemporaryDir dir;
    LogInfo("before");   // dropped: no log yet
    InitUpdateLogger(dir.path());
    const QDate d = QDate::currentDate();
    const QString expected = dir.path() + QString("/logs/update_%1_%2_%3.log")
                                              .arg(d.year()).arg(d.month(), 2, 10, QChar('0')).arg(d.day(), 2, 10, QChar('0'));
    EXPECT_EQ(UpdateLogFileName(), expected);
    InitUpdateLogger(dir.path() + "/other");   // once: the first folder stays
    LogError("Ошибка один");
    CloseUpdateLogger();
    LogInfo("after");
    const QStringList lines = cp1251::decode(fileBytes(expected)).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith("] INFO: Логгер инициализирован"));
    EXPECT_TRUE(lines[1].endsWith("] ERROR: Ошибка один"));
}

TEST(UpdateHash, Sha256OfFilesAndChecksumComparison) {
    QTemporaryDir dir;
    writeFile(dir.filePath("block"), "abc");
    const QString hex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    EXPECT_EQ(FileSha256Hex(dir.filePath("block")), hex);
    EXPECT_EQ(FileSha256Hex(dir.filePath("missing")), "");
    EXPECT_TRUE(VerifyArchiveChecksum(dir.filePath("block"), hex.toUpper()));
    EXPECT_FALSE(VerifyArchiveChecksum(dir.filePath("block"), ""));
    EXPECT_FALSE(VerifyArchiveChecksum(dir.filePath("block"), QString(64, '0')));
    EXPECT_FALSE(VerifyArchiveChecksum(dir.filePath("missing"), hex));
}

TEST(UpdateZip, PackAndUnpackKeepFoldersAndBytes) {
    QTemporaryDir dir;
    const QString src = dir.filePath("src/");
    writeFile(src + "update_manifest.json", "{}");
    writeFile(src + "Ф30/Ф30.frs", "line\r\n");
    writeFile(src + "Ф30/Forms/Ф30.doc", QByteArray("\0\1\2bin", 6));
    QDir().mkpath(src + "Пустая");
    const QString zip = dir.filePath("out/p.zip");
    ASSERT_TRUE(CreateZipArchive(src, zip));
    ASSERT_TRUE(ExtractZipArchive(zip, dir.filePath("dst")));
    EXPECT_EQ(fileBytes(dir.filePath("dst/Ф30/Forms/Ф30.doc")), QByteArray("\0\1\2bin", 6));
    EXPECT_TRUE(QDir(dir.filePath("dst/Пустая")).exists());

    QDir().mkpath(dir.filePath("none"));
    ASSERT_TRUE(CreateZipArchive(dir.filePath("none"), dir.filePath("e.zip")));
    EXPECT_EQ(fileBytes(dir.filePath("e.zip")), QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
    EXPECT_FALSE(CreateZipArchive(dir.filePath("nowhere"), dir.filePath("x.zip")));
    EXPECT_FALSE(ExtractZipArchive(dir.filePath("nothing.zip"), dir.filePath("d2")));
}

TEST(UpdateZip, EntriesLeavingTheDestinationAreRefused) {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("evil.zip"));
    int err = 0;
    zip_t *z = zip_open(path.constData(), ZIP_CREATE, &err);
    ASSERT_TRUE(z);
    static const char data[] = "x";
    zip_file_add(z, "first.txt", zip_source_buffer(z, data, 1, 0), 0);
    zip_file_add(z, "../escaped.txt", zip_source_buffer(z, data, 1, 0), 0);
    ASSERT_EQ(zip_close(z), 0);
    EXPECT_FALSE(ExtractZipArchive(dir.filePath("evil.zip"), dir.filePath("dst")));
    EXPECT_FALSE(QFile::exists(dir.filePath("escaped.txt")));
    EXPECT_FALSE(QFile::exists(dir.filePath("dst/first.txt")));   // nothing of it is unpacked
}

TEST(UpdateZip, EntryNamesAreUtf8OnlyWhenTheirFlagSaysSo) {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("shell.zip"));
    int err = 0;
    zip_t *z = zip_open(path.constData(), ZIP_CREATE, &err);
    ASSERT_TRUE(z);
    static const char data[] = "x";
    // As the Windows shell packs: code page 866, no UTF-8 flag ("Ф" is 0x94, "д" 0xA4).
    ASSERT_GE(zip_file_add(z, "\x94\x33\x30/\x94\x33\x30 \xa4.frs", zip_source_buffer(z, data, 1, 0), ZIP_FL_ENC_CP437), 0);
    // UTF-8 with the flag.
    ASSERT_GE(zip_file_add(z, "Ф14/Ф14.frs", zip_source_buffer(z, data, 1, 0), ZIP_FL_ENC_UTF_8), 0);
    ASSERT_EQ(zip_close(z), 0);
    // UTF-8 without the flag, as archivers on Linux and macOS pack: the flag
    // cleared in the headers of an archive of its own.
    z = zip_open(QFile::encodeName(dir.filePath("unix.zip")).constData(), ZIP_CREATE, &err);
    ASSERT_GE(zip_file_add(z, "Ф99/Ёж ф.frs", zip_source_buffer(z, data, 1, 0), ZIP_FL_ENC_UTF_8), 0);
    ASSERT_EQ(zip_close(z), 0);
    QFile posix(dir.filePath("unix.zip"));
    ASSERT_TRUE(posix.open(QIODevice::ReadWrite));
    QByteArray bytes = posix.readAll();
    for (const auto &[signature, flagsAt] : {std::pair{QByteArray("PK\x03\x04"), 6}, std::pair{QByteArray("PK\x01\x02"), 8}})
        for (qsizetype at = bytes.indexOf(signature); at >= 0; at = bytes.indexOf(signature, at + 4))
            bytes[at + flagsAt + 1] = char(bytes[at + flagsAt + 1] & ~0x08);
    posix.seek(0);
    posix.write(bytes);
    posix.close();
    ASSERT_TRUE(ExtractZipArchive(dir.filePath("unix.zip"), dir.filePath("dst")));
    ASSERT_TRUE(ExtractZipArchive(dir.filePath("shell.zip"), dir.filePath("dst")));
    EXPECT_EQ(fileBytes(dir.filePath("dst/Ф30/Ф30 д.frs")), "x");
    EXPECT_EQ(fileBytes(dir.filePath("dst/Ф14/Ф14.frs")), "x");
    EXPECT_EQ(fileBytes(dir.filePath("dst/Ф99/Ёж ф.frs")), "x");
}

TEST(UpdateZip, OnlyWantedEntriesAreUnpackedWithinTheLimit) {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("bomb.zip"));
    int err = 0;
    zip_t *z = zip_open(path.constData(), ZIP_CREATE, &err);
    ASSERT_TRUE(z);
    static const QByteArray zeros(3 * 1024 * 1024, '\0');   // packs into a few kilobytes
    static const char data[] = "x";
    ASSERT_GE(zip_file_add(z, "Ф30/Ф30.frs", zip_source_buffer(z, data, 1, 0), ZIP_FL_ENC_UTF_8), 0);
    ASSERT_GE(zip_file_add(z, "junk/zeros.bin", zip_source_buffer(z, zeros.constData(), zeros.size(), 0), 0), 0);
    ASSERT_EQ(zip_close(z), 0);
    QString why;
    ASSERT_TRUE(ExtractZipArchive(dir.filePath("bomb.zip"), dir.filePath("a"),
                                  [](const QString &n) { return n == "Ф30/Ф30.frs"; }, 1024 * 1024, &why));
    EXPECT_EQ(fileBytes(dir.filePath("a/Ф30/Ф30.frs")), "x");
    EXPECT_FALSE(QDir(dir.filePath("a/junk")).exists());
    EXPECT_FALSE(ExtractZipArchive(dir.filePath("bomb.zip"), dir.filePath("b"), {}, 1024 * 1024, &why));
    EXPECT_EQ(why, "Архив обновления распаковывается в слишком большой объем (больше 1 МБ).");
    EXPECT_LE(QFileInfo(dir.filePath("b/junk/zeros.bin")).size(), 1024 * 1024);
}

TEST(UpdateTables, CreatedOnceAndWrittenWithBoundValues) {
    FakeDialogs dialogs;
    QTemporaryDir dir;
    db::ScopedConnection c(dir.filePath("orvmain.mdb"), db::OpenMode::Create, "upd");
    const QSqlDatabase d = c.db();
    EnsureUpdateTables(d);

    InstalledUpdateRecord r;
    r.updateId = "U1";
    r.year = 2025;
    r.installDate = QDateTime(QDate(2025, 3, 7), QTime(8, 9, 10));
    r.status = "installed";
    r.description = "Form's rules";
    r.archiveSize = 5000000000LL;
    RecordInstalledUpdate(d, r);
    QSqlQuery q = db::exec(d, "select description, install_date, archive_size, year from updates");
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), "Form's rules");
    EXPECT_EQ(q.value(1).toString(), "2025-03-07 08:09:10");
    EXPECT_EQ(q.value(2).toLongLong(), 5000000000LL);

    SetInstalledFormVersion(d, "Ф30", "1.0");
    SetInstalledControlsVersion(d, "Ф30", "2.0");
    SetInstalledFormVersion(d, "Ф30", "1.1");
    QSqlQuery v = db::exec(d, "select form_version, controls_version, count(*) from installed_form_versions");
    ASSERT_TRUE(v.next());
    EXPECT_EQ(v.value(0).toString(), "1.1");
    EXPECT_EQ(v.value(1).toString(), "2.0");
    EXPECT_EQ(v.value(2).toInt(), 1);
    EXPECT_TRUE(dialogs.messages.isEmpty());

    // A table that cannot be made is reported, and the next caller tries again.
    db::ScopedConnection other(dir.filePath("other.mdb"), db::OpenMode::Create, "upd2");
    const QSqlDatabase o = other.db();
    db::exec(o, "create table t (a)");
    db::exec(o, "create index update_global_controls on t (a)");
    EnsureUpdateTables(o);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Ошибка при создании таблиц для системы обновлений: "));
    EXPECT_TRUE(UpdateTableExists(o, "updates"));
    db::exec(o, "drop index update_global_controls");
    EnsureUpdateTables(o);
    EXPECT_TRUE(UpdateTableExists(o, "update_global_controls"));
    EXPECT_TRUE(UpdateTableExists(o, "installed_form_versions"));
    EXPECT_EQ(dialogs.messages.size(), 1);
}
