// Transfer files: the line codec, every writer and reader, and the promise that a bad file changes nothing.
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "engine/NumberFormat.h"
#include "core/TreeMarking.h"
#include "test_adm_fixture.h"

#include "forms/shared/AdmFormLogic.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Paths.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <QTreeWidgetItem>
#include <gtest/gtest.h>
#include <functional>
#include <tuple>
#include <thread>
#include <QElapsedTimer>
#include <sys/stat.h>
#include "platform/Errors.h"

using namespace transfer;

namespace {

QString writeText(const QString &path, const QStringList &lines) {
    EXPECT_TRUE(cp1251::writeLines(path, lines));
    return path;
}

QString line(const QString &v, const QString &year, const QString &form, const QString &tablen, int c, int r) {
    return formatRecord(v, year, form, tablen, c, r);
}

} // namespace

TEST(TransferCodec, LineLayoutAndParsing) {
    EXPECT_EQ(formatRecord("12.5", "2026", "Ф30", "(1000)", 3, 4),
              QStringLiteral("\"12.5\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\""));
    Record r;
    ASSERT_TRUE(parseRecord(QStringLiteral("\"-7\",\"2026\",\"ф12\",\"(1000)\",\"10\",\"20\""), r));
    EXPECT_EQ(r.value, -7);
    EXPECT_EQ(r.year, 2026);
    EXPECT_EQ(r.form, QStringLiteral("ф12"));
    EXPECT_EQ(r.tablen, "(1000)");
    EXPECT_EQ(r.column, 10);
    EXPECT_EQ(r.row, 20);
    // A quote inside a field is doubled and comes back as one; a line of an older writer with a lone quote still reads.
    const QString quotedForm = QStringLiteral("Ф\"30\", №1");
    ASSERT_TRUE(parseRecord(formatRecord("0.1", "2026", quotedForm, "(1000)", 3, 4), r));
    EXPECT_EQ(r.form, quotedForm);
    EXPECT_EQ(r.value, 0.1);
    ASSERT_TRUE(parseRecord(QStringLiteral("\"1\",\"2026\",\"Ф\"30\",\"(1000)\",\"3\",\"4\""), r));
    EXPECT_EQ(r.form, QStringLiteral("Ф\"30"));

    const char *bad[] = {
        "",                                                       // nothing
        "\"1\",\"2026\",\"Ф30\",\"(1000)\",\"3\"",                // five fields
        "\"1\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\",\"5\"",    // seven
        "1,\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\"",              // unquoted
        "\"x\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\"",          // value no number
        "\"nan\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\"", "\"-inf\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\"",
        "\"1e400\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\"",      // overflows
        "\"1\",\"2026\",\"Ф30\",\"(1000)\",\"3.5\",\"4\"",        // column no integer
        "\"1\",\"20a6\",\"Ф30\",\"(1000)\",\"3\",\"4\"",          // year no integer
    };
    for (const char *b : bad) {
        QString why;
        EXPECT_FALSE(parseRecord(QString::fromUtf8(b), r, &why)) << b;
        EXPECT_FALSE(why.isEmpty()) << b;
    }
}

// Lines as the writers make them take a short way through readFile: every line must still read as parseRecord reads it
// alone, whatever ends it, and a bad line is named by its number.
TEST(TransferCodec, FileReadsAsItsLinesOneByOne) {
    QTemporaryDir dir;
    const QStringList lines{
        line("0.1", "2026", "Ф30", "(1000)", 3, 4), line("10.1", "2026", "ф30", "(1000)", 3, 5),
        line("+5", "2026", "Ф30", "(1000)", 3, 6), line("1e-5", "2026", "Ф30", "(1000)", 3, 7) + "\t ",
        line("-7.25", "2026", "Ф\"30\", №1", "(1000)", 3, 8), line("123456789012.5", "2026", "Ф#30=", "(10\t00)", 3, 9),
        "   ", line("8", "2026", "ФОРМА", "(1000)", 3, 10), "\"9\",\"2026\",\"Ф30\",\"(1000)\",\"03\",\"11\"",
    };
    const QByteArray endings[] = {"\r\n", "\n", "\r"};
    QByteArray bytes;
    for (int i = 0; i < lines.size(); ++i) bytes += cp1251::encode(lines[i]) + endings[i % 3];
    const QString path = dir.path() + "/ЦРБ.orw";
    const auto save = [&] {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    save();
    const ParsedFile file = readFile(path);
    ASSERT_EQ(file.records.size(), lines.size() - 1);
    for (int i = 0, k = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty()) continue;
        Record want;
        ASSERT_TRUE(parseRecord(lines[i], want)) << i;
        const Record &got = file.records[k++];
        EXPECT_EQ(std::tie(got.value, got.year, got.form, got.tablen, got.column, got.row),
                  std::tie(want.value, want.year, want.form, want.tablen, want.column, want.row)) << i;
        EXPECT_EQ(got.line, i + 1);
    }
    bytes += cp1251::encode(line("1,5", "2026", "Ф30", "(1000)", 3, 12));
    save();
    try {
        readFile(path);
        ADD_FAILURE() << "was read";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("строка 10 (значение \"1,5\""))) << e.message().toStdString();
    }
}

// Files read ahead on other threads come back as readFile reads them, in
// order, with readFile's refusal at the file it concerns; files passed over
// are dropped.
TEST(TransferCodec, FilesReadAheadAsReadFileReadsThem) {
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 7; ++i) {
        QStringList lines;
        for (int k = 0; k <= i * 50; ++k)
            lines.append(line(QString::number(0.1 * k + i), "2026", i % 2 ? "ф30" : "Ф30", "(1000)", 3 + k % 7, 4 + k));
        if (i == 3) lines.append("\"1\",\"2026\"");   // refused
        paths.append(writeText(dir.path() + QStringLiteral("/ЦРБ %1.orw").arg(i), lines));
    }
    paths.insert(5, QString());                                 // no file to read
    paths.append(dir.path() + "/Нет такого.orw");               // missing
    const auto outcome = [](const std::function<ParsedFile()> &read) {
        QStringList out;
        try {
            for (const Record &r : read().records)
                out.append(QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                               .arg(num::general(r.value)).arg(r.year).arg(r.form, r.tablen).arg(r.column).arg(r.row)
                               .arg(r.line));
        } catch (const db::Error &e) {
            out.append(e.message());
        }
        return out;
    };
    for (const int ahead : {1, 3}) {
        ReadAhead reads(paths, ahead);
        for (qsizetype i = 0; i < paths.size(); ++i) {
            if (i == 1 || i == 6) continue;   // passed over
            EXPECT_EQ(outcome([&] { return reads.take(i); }), outcome([&] { return readFile(paths[i]); })) << i;
        }
    }
    // Dropped with reads still running.
    ReadAhead reads(paths, 4);
    EXPECT_EQ(reads.take(0).records.size(), 1);
}

// A file still being read (a pipe nobody has written yet) keeps the window
// answering: the waiting callback runs until the read ends, what it throws
// ("Отмена") comes out of take(), and dropping the reads does not wait for
// one that still hangs.
TEST(TransferCodec, AReadThatWaitsLetsTheWindowAnswer) {
    QTemporaryDir dir;
    const QString pipe = dir.path() + QStringLiteral("/ЦРБ 0.orw");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QByteArray content = cp1251::encode(line("0.1", "2026", "Ф30", "(1000)", 3, 4) + QStringLiteral("\r\n"));
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        QFile out(pipe);
        if (out.open(QIODevice::WriteOnly)) out.write(content);
    });
    int waits = 0;
    {
        ReadAhead reads({pipe}, 1, [&] { ++waits; });
        EXPECT_EQ(reads.take(0).records.size(), 1);
    }
    writer.join();
    EXPECT_GE(waits, 3);

    // "Отмена" while the read hangs: take() throws it at once, and the reads are dropped without waiting.
    QElapsedTimer t;
    t.start();
    {
        ReadAhead reads({pipe}, 1, [] { throw Cancelled(); });
        EXPECT_THROW(reads.take(0), Cancelled);
    }
    EXPECT_LT(t.elapsed(), 1000);
    QFile release(pipe);   // the hanging read ends
    ASSERT_TRUE(release.open(QIODevice::WriteOnly));
    release.write(content);
    release.close();
}

// Institution names that cannot stand in a file name as they are still get a
// file of their own, and the group load finds the institution by it.
TEST(TransferFiles, GroupUnloadNamesMapBackToTheirInstitution) {
    admtest::YearFixture fx;
    const QString names[] = {QStringLiteral("ЦРБ"), QStringLiteral("Больница им. Н.И. Петрова"),
                             QStringLiteral("ГБУЗ \"Городская больница\""), QStringLiteral("ГБУЗ _Городская больница_"),
                             QStringLiteral("Филиал: с. Лесное"), QStringLiteral("  Амбулатория"),
                             QStringLiteral("ЦРБ - филиал"), QStringLiteral("ФАП #3 = Tab\tв имени"),
                             QString(130, QChar(0x0416)) + QStringLiteral("а"),
                             QString(130, QChar(0x0416)) + QStringLiteral("б")};
    QList<qint64> ids;
    for (const QString &n : names)
        ids.append(n == QStringLiteral("ЦРБ") ? fx.crb : fx.unit(n, fx.region, fx.typeHosp, 0));
    QSet<QString> files;
    for (int i = 0; i < ids.size(); ++i) {
        // A long level gives way so that the whole name fits 255 bytes.
        const QString level = i % 2 ? QStringLiteral("Годовой") : QString(150, QChar(0x041A));
        const QString path = fx.dir.path() + "/" + unitFileName(names[i], level, 2026);
        EXPECT_LE(QFileInfo(path).fileName().toUtf8().size(), 255);
        EXPECT_TRUE(cp1251::writeLines(path, {})) << path.toStdString();
        files.insert(path);
        EXPECT_EQ(FindUnitIdByFileName(path), ids[i]) << names[i].toStdString();
    }
    EXPECT_EQ(files.size(), ids.size());
    EXPECT_EQ(unitFileName(QStringLiteral("ЦРБ"), QStringLiteral("Годовой"), 2026),
              QStringLiteral("ЦРБ - Годовой - 2026.orw"));   // names that fit stay as they were
    EXPECT_EQ(FindUnitIdByFileName(fx.dir.path() + "/црб.orw"), fx.crb);
    // A file of an older writer that kept " - " in the name is not taken for "ЦРБ".
    EXPECT_EQ(FindUnitIdByFileName(fx.dir.path() + "/ЦРБ - филиал - Годовой - 2026.orw"), ids[6]);
    EXPECT_EQ(FindUnitIdByFileName(fx.dir.path() + "/ЦРБ - Годовой - 2026.orw"), fx.crb);
    EXPECT_EQ(FindUnitIdByFileName(fx.dir.path() + "/Нет такого.orw"), -1);
}

TEST(TransferFiles, WriteThenReadBackEveryKind) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 12.5);
    fx.value(fx.crb, fx.t30a, 6, 8, 3);
    fx.value(fx.crb, fx.t12, 3, 3, 0.1);
    // Fractions are written as general() writes them, a rounding tie included.
    const QList<double> hard{-1e-5, 1.0 / 3, 4656474550896.625, -9.99999999999999e14};
    for (int i = 0; i < hard.size(); ++i) fx.value(fx.crb, fx.t12, 4, 3 + i, hard[i]);
    fx.value(fx.crb, fx.t30a, 3, 4, 99, 2025);     // another year: not written
    fx.value(fx.poly, fx.t12, 3, 3, 5);            // another institution

    const QString orw = fx.dir.path() + "/ЦРБ - Годовой - 2026.orw";
    const WriteResult w = SaveHosp(fx.crb, orw);
    EXPECT_EQ(w.written, 3 + int(hard.size()));
    EXPECT_EQ(w.skipped, 0);
    const QByteArray bytes = fileBytes(orw);
    QString expected = QStringLiteral("\"12.5\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\"\r\n"
                                      "\"3\",\"2026\",\"Ф30\",\"(1000)\",\"6\",\"8\"\r\n"
                                      "\"0.1\",\"2026\",\"Ф12\",\"(1000)\",\"3\",\"3\"\r\n");
    for (int i = 0; i < hard.size(); ++i)
        expected += formatRecord(num::general(hard[i]), "2026", "Ф12", "(1000)", 4, 3 + i) + "\r\n";
    EXPECT_EQ(cp1251::decode(bytes), expected);
    EXPECT_EQ(bytes.indexOf("\xD4\x33\x30"), 15);   // "Ф30" in code page 1251

    // The whole institution into another one (name kind, form names in capitals).
    LoadResult r = LoadUnitInfo(fx.hospital, orw, QString(), false);
    EXPECT_EQ(r.inserted, 3 + int(hard.size()));
    // The same lines with form ids, read as ".orv".
    const QString orv = fx.dir.path() + "/Поликлиника №1.orv";
    writeText(orv, {line("12.5", "2026", QString::number(fx.f30), "(1000)", 3, 4),
                    line("0.1", "2026", QString::number(fx.f12), "(1000)", 3, 3)});
    // Ф30 is not a form of the polyclinic's type: skipped and counted, never stored out of sight.
    r = LoadUnitInfo(fx.poly, orv, QString(), false);
    EXPECT_EQ(r.inserted, 1);
    EXPECT_EQ(loadedMessage("Загружено", r),
              QStringLiteral("Загружено\nСтроки форм, которых нет у типа учреждения, пропущены: 1 (Ф30 (1000))"));
    const QStringList rows = fx.values();
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|4=12.5@2026").arg(fx.hospital).arg(fx.t30a)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|3=0.1@2026").arg(fx.hospital).arg(fx.t12)));
    EXPECT_FALSE(rows.contains(QStringLiteral("%1|%2|3|4=12.5@2026").arg(fx.poly).arg(fx.t30a)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|3=0.1@2026").arg(fx.poly).arg(fx.t12)));
    EXPECT_FALSE(rows.contains(QStringLiteral("%1|%2|3|3=5@2026").arg(fx.poly).arg(fx.t12)));  // replaced

    // A summary report: ".rpd" written, read back; ".rps" read.
    fx.value(7, fx.t30b, 3, 3, 42, 2026, "repdata");
    const QString rpd = fx.dir.path() + "/Свод.rpd";
    EXPECT_EQ(saveReport(7, rpd).written, 1);
    db::exec(fx.dataDb(), "delete from repdata");
    db::exec(db::connection(db::kMain), "insert into reports (id, report) values (7, 'Отчет')");
    EXPECT_EQ(loadReport(7, rpd).inserted, 1);
    EXPECT_EQ(fx.values("repdata"), QStringList{QStringLiteral("7|%1|3|3=42@2026").arg(fx.t30b)});
    const QString rps = fx.dir.path() + "/Свод.RPS";
    writeText(rps, {line("8", "2026", QString::number(fx.f30), "(2000)", 4, 3)});
    EXPECT_EQ(loadReport(7, rps).inserted, 1);
    EXPECT_EQ(fx.values("repdata"), QStringList{QStringLiteral("7|%1|4|3=8@2026").arg(fx.t30b)});

    // Names past 20 characters and with quotes and commas travel whole and find their table again.
    const qint64 longForm = fx.form(QStringLiteral("Ф\"Сведения, о кадрах\" №1"), QStringLiteral("Кадры"), 4, false);
    const qint64 longTable = fx.table(longForm, QStringLiteral("(1000-дополнительная-часть)"), "Ч", 3, 3, 1, 1);
    fx.assign(fx.typeHosp, longForm);
    caches::reloadAll();
    fx.value(fx.city, longTable, 3, 3, 10.1);
    const QString city = fx.dir.path() + "/Город.orw";
    EXPECT_EQ(SaveHosp(fx.city, city).written, 1);
    EXPECT_EQ(LoadUnitInfo(fx.hospital, city, QString(), false).inserted, 1);
    EXPECT_TRUE(fx.values().contains(QStringLiteral("%1|%2|3|3=10.1@2026").arg(fx.hospital).arg(longTable)));
}

// A file of more rows than one statement carries, the last statement part
// full: every row arrives, fractions and cancelling neighbours as written, and
// lines of a form the institution's type lacks are counted each time they come.
TEST(TransferFiles, LongFileLoadsEveryRow) {
    admtest::YearFixture fx;
    const qint64 big = fx.table(fx.f12, QStringLiteral("(3000)"), QStringLiteral("Большая"), 40, 50, 1, 1);
    caches::reloadAll();
    QStringList lines;
    QStringList expected;
    for (int c = 3; c <= 40; ++c)
        for (int r = 3; r <= 9; ++r) {
            const double v = (c * 7 + r) % 3 == 0 ? 0.1 * r : -(c + 0.3);
            lines.append(line(num::general(v), "2026", "Ф12", "(3000)", c, r));
            expected.append(QStringLiteral("%1|%2|%3|%4=%5@2026").arg(fx.poly).arg(big).arg(c).arg(r).arg(num::general(v)));
            if (c % 9 == 0 && r == 3) lines.append(line("5", "2026", "Ф30", "(1000)", 3, 3));   // not of its type
        }
    const QString orw = writeText(fx.dir.path() + "/Поликлиника №1.orw", lines);
    const LoadResult r = LoadUnitInfo(fx.poly, orw, QString(), false);
    EXPECT_EQ(r.inserted, 38 * 7);
    EXPECT_EQ(loadedMessage("Загружено", r),
              QStringLiteral("Загружено\nСтроки форм, которых нет у типа учреждения, пропущены: 4 (Ф30 (1000))"));
    QStringList stored;
    for (const QString &row : fx.values())
        if (row.startsWith(QStringLiteral("%1|%2|").arg(fx.poly).arg(big))) stored.append(row);
    stored.sort();
    expected.sort();
    EXPECT_EQ(stored, expected);
}

// Rows stored in any order (a table typed row by row, tables out of their
// order) are written by table, column and row.
TEST(TransferFiles, WriterPutsRowsInTableColumnRowOrder) {
    admtest::YearFixture fx;
    QList<std::tuple<qint64, int, int>> cells;
    for (const qint64 t : {fx.t30b, fx.t30a})
        for (int r = 6; r >= 3; --r)
            for (int c = 3; c <= 5; ++c) cells.append({t, (c * 7 + r) % 3 + 3, r});
    QSet<QString> seen;
    QList<std::tuple<qint64, int, int>> expected;
    for (const auto &[t, c, r] : cells) {
        const QString key = QStringLiteral("%1:%2:%3").arg(t).arg(c).arg(r);
        if (seen.contains(key)) continue;
        seen.insert(key);
        fx.value(fx.crb, t, c, r, c * 10 + r + 0.1);
        expected.append({t, c, r});
    }
    std::sort(expected.begin(), expected.end());
    const QString orw = fx.dir.path() + "/ЦРБ.orw";
    ASSERT_EQ(SaveHosp(fx.crb, orw).written, expected.size());
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(orw, lines));
    QStringList want;
    for (const auto &[t, c, r] : expected)
        want.append(line(num::general(c * 10 + r + 0.1), "2026", "Ф30", t == fx.t30a ? "(1000)" : "(2000)", c, r));
    EXPECT_EQ(lines, want);
}

TEST(TransferFiles, WriterSkipsValuesOfTablesNoLongerInCatalogue) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    fx.value(fx.crb, 999, 3, 4, 2);
    fx.value(fx.crb, -1, 3, 4, 2);
    const WriteResult w = SaveHosp(fx.crb, fx.dir.path() + "/x.orw");
    EXPECT_EQ(w.written, 1);
    EXPECT_EQ(w.skipped, 1);
    EXPECT_EQ(w.skippedTables, QList<qint64>{999});
}

namespace {

// Every reader of value files, each loading Ф30 (1000) of ЦРБ or a part of it,
// with the file extension and the value table it works on.
struct Reader {
    const char *name;
    const char *ext;
    const char *valueTable;
    std::function<LoadResult(admtest::YearFixture &, const QString &)> load;
};

QList<Reader> readers() {
    using F = admtest::YearFixture;
    return {
        {"unit", "orw", "data", [](F &fx, const QString &p) { return LoadUnitInfo(fx.crb, p, QString(), false); }},
        {"chosen forms", "orw", "data",
         [](F &fx, const QString &p) { return LoadUnitInfo(fx.crb, p, QStringLiteral("ф30"), true); }},
        {"form", "orw", "data", [](F &fx, const QString &p) { return loadForm(fx.crb, p, ValueTable::Data, fx.f30, "Ф30"); }},
        {"group table", "orw", "data", [](F &fx, const QString &p) { return LoadTableFromFile(fx.crb, p, fx.t30a); }},
        {"table window", "orw", "data",
         [](F &fx, const QString &p) { return loadTable(fx.crb, p, ValueTable::Data, fx.f30, "Ф30", fx.t30a, "(1000)"); }},
        {"report", "rpd", "repdata", [](F &fx, const QString &p) {
             // A report of the same id as ЦРБ: the two value tables are compared alike.
             db::exec(db::connection(db::kMain), "insert or ignore into reports (id, report) values (?, 'Отчет')",
                      {fx.crb});
             return loadReport(fx.crb, p);
         }},
    };
}

} // namespace

TEST(TransferPolicy, RefusedFilesChangeNothingAndSayWhy) {
    admtest::YearFixture fx;
    for (const char *t : {"data", "repdata"}) {
        fx.value(fx.crb, fx.t30a, 3, 4, 1, 2026, t);
        fx.value(fx.crb, fx.t12, 3, 3, 2, 2026, t);
    }
    const QString good = line("5", "2026", "Ф30", "(1000)", 4, 5);
    struct Case { const char *what; QStringList lines; QStringList says; };
    const Case cases[] = {
        {"malformed", {good, "\"6\",\"2026\",\"Ф30\""}, {"строка 2"}},
        {"nan", {good, line("nan", "2026", "Ф30", "(1000)", 4, 6)}, {"строка 2", "nan"}},
        {"inf", {line("inf", "2026", "Ф30", "(1000)", 4, 6), good}, {"строка 1", "inf"}},
        {"overflow", {good, line("-1e400", "2026", "Ф30", "(1000)", 4, 6)}, {"строка 2", "1e400"}},
        {"one cell twice",
         {good, line("0.1", "2026", "Ф30", "(1000)", 3, 4), line("10.1", "2026", "Ф30", "(1000)", 4, 5)},
         {"строки 1 и 3"}},
        {"one cell twice in a row", {good, good}, {"строки 1 и 2"}},
        {"one cell again after another table",
         {line("5", "2026", "Ф30", "(1000)", 3, 4), line("5", "2026", "Ф30", "(2000)", 3, 3),
          line("6", "2026", "Ф30", "(1000)", 3, 4)},
         {"строки 1 и 3"}},
        {"other year", {line("5", "2025", "Ф30", "(1000)", 4, 5)}, {"2025"}},
        {"huge", {good, line("1.7e308", "2026", "Ф30", "(1000)", 4, 6)}, {"строка 2", "1.7e308"}},
        {"past fifteen digits", {line("-1000000000000000", "2026", "Ф30", "(1000)", 4, 6)}, {"строка 1"}},
        // Stored with fifteen digits it would be 10^15: the bound is taken after the rounding.
        {"rounds to fifteen digits past them", {good, line("999999999999999.9", "2026", "Ф30", "(1000)", 4, 6)},
         {"строка 2"}},
        {"empty", {}, {"пуст. Данные не изменены."}},
        {"no line for the target", {line("5", "2026", "Ф99", "(1000)", 4, 5)},
         {"нет данных", "Строки неизвестных форм и таблиц пропущены: 1 (Ф99 (1000))"}},
        {"truncated table number", {line("5", "2026", "Ф30", "(10", 4, 5), line("6", "2026", "Ф30", "", 4, 6)},
         {"нет данных", "Строки неизвестных форм и таблиц пропущены: 2 (Ф30 (10, Ф30)"}},
        {"only header cells", {line("5", "2026", "Ф30", "(1000)", 2, 5), line("5", "2026", "Ф30", "(1000)", 4, -5)},
         {"нет данных", "пропущено: 2"}},
    };
    for (const Reader &reader : readers()) {
        const QStringList before = fx.values(reader.valueTable);
        auto expectRefused = [&](const QString &path, const QStringList &says) {
            SCOPED_TRACE(std::string(reader.name) + ": " + path.toStdString());
            try {
                reader.load(fx, path);
                ADD_FAILURE() << "was loaded";
            } catch (const db::Error &e) {
                for (const QString &s : says) EXPECT_TRUE(e.message().contains(s)) << e.message().toStdString();
                EXPECT_FALSE(e.message().contains(QStringLiteral("кодировке"))) << e.message().toStdString();
            }
            EXPECT_EQ(fx.values(reader.valueTable), before);
        };
        for (const Case &c : cases)
            expectRefused(writeText(fx.dir.path() + "/" + c.what + "." + reader.ext, c.lines), c.says);
        expectRefused(fx.dir.path() + "/none." + reader.ext, {QStringLiteral("Не удалось прочитать")});
        expectRefused(writeText(fx.dir.path() + "/w.txt", {good}), {QStringLiteral("не является файлом данных")});

        // The right file saved as UTF-8: nothing found, and the message says why that may be.
        QFile utf8(fx.dir.path() + "/utf8." + reader.ext);
        ASSERT_TRUE(utf8.open(QIODevice::WriteOnly));
        utf8.write((good + "\r\n").toUtf8());
        utf8.close();
        try {
            reader.load(fx, utf8.fileName());
            ADD_FAILURE() << reader.name << ": UTF-8 file was loaded";
        } catch (const db::Error &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("кодировке Windows-1251"))) << e.message().toStdString();
        }
        EXPECT_EQ(fx.values(reader.valueTable), before) << reader.name;
    }
}

// A load that replaces a whole year names the forms that held values and get no line of the file, before (nothing
// written) and after; form and table loads replace only what the file carries and name nothing.
TEST(TransferPolicy, WholeYearLoadsNameTheFormsTheyEmpty) {
    const QMap<QString, QStringList> emptied{{"unit", {QStringLiteral("Ф12")}}, {"report", {QStringLiteral("Ф12")}}};
    for (const Reader &reader : readers()) {
        SCOPED_TRACE(reader.name);
        admtest::YearFixture fx;
        fx.value(fx.crb, fx.t30a, 3, 4, 0.1, 2026, reader.valueTable);
        fx.value(fx.crb, fx.t30b, 3, 3, 0.2, 2026, reader.valueTable);   // a form the file has a line of: replaced
        fx.value(fx.crb, fx.t12, 3, 3, -0.3, 2026, reader.valueTable);
        const QString file = writeText(fx.dir.path() + "/ЦРБ." + reader.ext, {line("7", "2026", "ф30", "(1000)", 4, 5)});
        const QStringList before = fx.values(reader.valueTable);
        const QStringList expected = emptied.value(reader.name);
        if (QByteArray(reader.name) == "unit")
            EXPECT_EQ(formsEmptiedByUnitLoad(fx.crb, file, QString(), false), expected);
        if (QByteArray(reader.name) == "chosen forms")
            EXPECT_EQ(formsEmptiedByUnitLoad(fx.crb, file, QStringLiteral("ф30"), true), QStringList{});
        if (QByteArray(reader.name) == "report") {
            db::exec(db::connection(db::kMain), "insert or ignore into reports (id, report) values (?, 'Отчет')",
                     {fx.crb});
            EXPECT_EQ(formsEmptiedByReportLoad(fx.crb, file), expected);
        }
        EXPECT_EQ(fx.values(reader.valueTable), before);
        const LoadResult r = reader.load(fx, file);
        EXPECT_EQ(r.emptiedForms, expected);
        // What was named is what went.
        const bool ф12Kept = fx.values(reader.valueTable).join(u' ').contains(QStringLiteral("|%1|").arg(fx.t12));
        EXPECT_EQ(ф12Kept, expected.isEmpty());
    }
    // Loading only the chosen forms while clearing every form: the others are named.
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t12, 3, 3, 2);
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    const QString file = writeText(fx.dir.path() + "/ЦРБ.orw", {line("7", "2026", "Ф30", "(1000)", 4, 5),
                                                                 line("8", "2026", "Ф12", "(1000)", 4, 4)});
    EXPECT_EQ(formsEmptiedByUnitLoad(fx.crb, file, QStringLiteral("ф12"), false), QStringList{QStringLiteral("Ф30")});
    EXPECT_EQ(emptiedFormsQuestion({{QStringLiteral("ЦРБ"), {QStringLiteral("Ф30")}}, {QStringLiteral("ФАП"), {}}}, 2026),
              QStringLiteral("Загрузка заменяет все данные за 2026 год. В загружаемых данных нет строк форм, которые "
                             "сейчас заполнены, и эти формы будут очищены:\nЦРБ: Ф30\nЗагрузить?"));
    EXPECT_TRUE(emptiedFormsQuestion({{QStringLiteral("ФАП"), {}}}, 2026).isEmpty());
}

// The forms a whole-year load empties are found from the institution's rows
// wherever they lie: among another institution's and another year's, of
// tables no longer in the catalogue (one entry, each table counted once), of
// a table number that is no whole number.
TEST(TransferPolicy, EmptiedFormsFoundWhereverTheRowsLie) {
    admtest::YearFixture fx;
    for (int i = 0; i < 5; ++i) {
        fx.value(fx.crb, fx.t12, 3, 3 + i, 0.1);
        fx.value(fx.poly, fx.t30a, 3, 4 + i, 1);
        fx.value(fx.crb, 999, 3, 4 + i, 2);
        fx.value(fx.crb, fx.t47, 3, 4 + i, 2, 2025);
        fx.value(fx.crb, 998, 3, 4 + i, -0.3);
    }
    fx.value(fx.crb, -1, 3, 4, 5);
    fx.value(fx.crb, fx.t30b, 3, 3, 0.2);
    const QString file = writeText(fx.dir.path() + "/ЦРБ.orw", {line("7", "2026", "Ф30", "(1000)", 4, 5)});
    const QString outside = QStringLiteral("таблицы, которых нет в перечне форм (%1)");
    EXPECT_EQ(formsEmptiedByUnitLoad(fx.crb, file, QString(), false), (QStringList{"Ф12", outside.arg(2)}));
    // Only the chosen form cleared: its other table is replaced with it.
    EXPECT_TRUE(formsEmptiedByUnitLoad(fx.crb, file, QStringLiteral("ф30"), true).isEmpty());
    for (const char *odd : {"'x'", "null", "'x'"})
        db::exec(fx.dataDb(), QStringLiteral("insert into data (hospital, data, year, \"table\", \"column\", \"row\") "
                                             "values (?, 1, 2026, %1, 3, 4)").arg(QLatin1String(odd)), {fx.crb});
    db::exec(fx.dataDb(), "insert into data (hospital, data, year, \"table\", \"column\", \"row\") "
                          "values (?, 1, 2026, null, 3, 4)", {fx.hospital});
    // Looked up table by table through the (table, year, hospital) index, or read row by row without it: the same.
    ASSERT_EQ(db::scalar(fx.dataDb(), "select count(*) from sqlite_master where name='data_key'").toInt(), 1);
    for (const bool keyIndex : {true, false}) {
        SCOPED_TRACE(keyIndex);
        if (!keyIndex) db::exec(fx.dataDb(), "drop index data_key");
        EXPECT_EQ(formsEmptiedByUnitLoad(fx.crb, file, QString(), false), (QStringList{"Ф12", outside.arg(4)}));
        EXPECT_EQ(formsEmptiedByUnitLoad(fx.hospital, file, QString(), false), QStringList{outside.arg(1)});
        EXPECT_TRUE(formsEmptiedByUnitLoad(fx.crb, file, QStringLiteral("ф30"), true).isEmpty());
    }
    EXPECT_EQ(LoadUnitInfo(fx.crb, file, QString(), false).emptiedForms, (QStringList{"Ф12", outside.arg(4)}));
}

// Values are stored as every writer stores them (fifteen digits, no row for
// a zero); cells outside the table are skipped and counted.
TEST(TransferPolicy, ValuesStoredAsEveryWriterCellsOutsideSkipped) {
    // t30a: fixcols 1, fixrows 2, colcount 6, rowcount 8: value cells are columns 3..7, rows 4..9.
    for (const Reader &reader : readers()) {
        SCOPED_TRACE(reader.name);
        admtest::YearFixture fx;
        const QString file = writeText(fx.dir.path() + "/ЦРБ." + reader.ext,
            {line("0.30000000000000004", "2026", "Ф30", "(1000)", 3, 4), line("0", "2026", "Ф30", "(1000)", 4, 4),
             line("2", "2026", "Ф30", "(1000)", 2, 4),
             line("3", "2026", "Ф30", "(1000)", 3, 3), line("4", "2026", "Ф30", "(1000)", 3, -5),
             line("5", "2026", "Ф30", "(1000)", 8, 9), line("6", "2026", "Ф30", "(1000)", 3, 10),
             line("10.1", "2026", "Ф30", "(1000)", 7, 9)});
        const LoadResult r = reader.load(fx, file);
        EXPECT_EQ(r.inserted, 2);
        EXPECT_EQ(r.outside, 5);
        EXPECT_EQ(fx.values(reader.valueTable),
                  (QStringList{QStringLiteral("%1|%2|3|4=0.3@2026").arg(fx.crb).arg(fx.t30a),
                               QStringLiteral("%1|%2|7|9=10.1@2026").arg(fx.crb).arg(fx.t30a)}));
        EXPECT_TRUE(loadedMessage("Загружено", r.outside).contains(QStringLiteral("пропущено: 5")));
    }
}

// Lines of a form or table the configuration lacks are counted and named by
// every reader; a form or table load empties only the tables the file carries.
TEST(TransferPolicy, UnknownTablesNamedAndUncarriedTablesKept) {
    for (const Reader &reader : readers()) {
        SCOPED_TRACE(reader.name);
        admtest::YearFixture fx;
        fx.value(fx.crb, fx.t30b, 3, 3, 2, 2026, reader.valueTable);
        const QString file = writeText(fx.dir.path() + "/ЦРБ." + reader.ext,
                                       {line("5", "2026", "Ф30", "(1000)", 4, 5), line("6", "2026", "Ф99", "(1000)", 4, 5),
                                        line("7", "2026", "Ф30", "1000", 4, 5), line("8", "2026", "Ф99", "(1000)", 4, 6)});
        const LoadResult r = reader.load(fx, file);
        EXPECT_EQ(r.inserted, 1);
        EXPECT_EQ(loadedMessage("Загружено", r),
                  QStringLiteral("Загружено\nСтроки неизвестных форм и таблиц пропущены: 3 (Ф99 (1000), Ф30 1000)"));
        // Institution and report loads clear what they always cleared (all, or the chosen forms).
        const bool replacesAll = QString(reader.name) == "unit" || QString(reader.name) == "chosen forms" ||
                                 QString(reader.name) == "report";
        EXPECT_EQ(fx.values(reader.valueTable).join(";").contains(QStringLiteral("|%1|3|3=2").arg(fx.t30b)), !replacesAll);
    }
}

TEST(TransferFiles, FormLoadKeepsToItsFormAndTableLoadToItsTable) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    fx.value(fx.crb, fx.t30b, 3, 3, 2);
    fx.value(fx.crb, fx.t12, 3, 3, 3);
    const QString file = writeText(fx.dir.path() + "/ЦРБ.ORW",
                                   {line("10", "2026", "Ф12", "(1000)", 4, 4),      // upper-case name, lower-case form
                                    line("11", "2026", "Ф30", "(1000)", 4, 4),
                                    line("12", "2025", "ф12", "(1000)", 5, 5),
                                    line("13", "2026", "ф12", "(9999)", 5, 5)});
    LoadResult r = loadForm(fx.crb, file, ValueTable::Data, fx.f12, QStringLiteral("ф12"));
    EXPECT_EQ(r.inserted, 1);
    EXPECT_EQ(r.skipped, 2);   // another form, another year; the unknown table is counted among r.unknown only
    EXPECT_FALSE(r.unknown.note().isEmpty());
    QStringList rows = fx.values();
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|4=1@2026").arg(fx.crb).arg(fx.t30a)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|3=2@2026").arg(fx.crb).arg(fx.t30b)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|4|4=10@2026").arg(fx.crb).arg(fx.t12)));
    EXPECT_FALSE(rows.contains(QStringLiteral("%1|%2|3|3=3@2026").arg(fx.crb).arg(fx.t12)));

    // Table window: only the shown table; ".orv" by the form id.
    const QString orv = writeText(fx.dir.path() + "/t.orv", {line("20", "2026", QString::number(fx.f30), "(2000)", 4, 4),
                                                              line("21", "2026", QString::number(fx.f30), "(1000)", 4, 4)});
    r = loadTable(fx.crb, orv, ValueTable::Data, fx.f30, "Ф30", fx.t30b, "(2000)");
    EXPECT_EQ(r.inserted, 1);
    rows = fx.values();
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|4|4=20@2026").arg(fx.crb).arg(fx.t30b)));
    EXPECT_FALSE(rows.contains(QStringLiteral("%1|%2|3|3=2@2026").arg(fx.crb).arg(fx.t30b)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|4=1@2026").arg(fx.crb).arg(fx.t30a)));
}

TEST(TransferFiles, UnitLoadWithChosenForms) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    fx.value(fx.crb, fx.t12, 3, 3, 2);
    const QString file = writeText(fx.dir.path() + "/ЦРБ.orw", {line("7", "2026", "Ф30", "(1000)", 4, 5),
                                                                 line("8", "2026", "Ф12", "(1000)", 4, 4)});
    // Only ф12, clearing only the chosen forms: Ф30 keeps its old value.
    LoadResult r = LoadUnitInfo(fx.crb, file, QStringLiteral("ф12"), true);
    EXPECT_EQ(r.inserted, 1);
    EXPECT_EQ(fx.values(), (QStringList{QStringLiteral("%1|%2|3|4=1@2026").arg(fx.crb).arg(fx.t30a),
                                        QStringLiteral("%1|%2|4|4=8@2026").arg(fx.crb).arg(fx.t12)}));
    // Clearing the whole institution: Ф30 is emptied although only ф12 is loaded.
    r = LoadUnitInfo(fx.crb, file, QStringLiteral("Ф12"), false);
    EXPECT_EQ(fx.values(), QStringList{QStringLiteral("%1|%2|4|4=8@2026").arg(fx.crb).arg(fx.t12)});
}

// The mirrored folders and names are the territory window's tests; here two
// nodes that would get one file: the unload writes nothing and names both.
TEST(TransferFiles, GroupSaveRefusesTwoNodesOfOneFile) {
    admtest::YearFixture fx;
    const QString data = fx.yearFolder + "data";
    QTreeWidgetItem twice(QStringList{QStringLiteral("Второй район")});
    twice.setData(0, Qt::UserRole, qint64(77));
    for (int i = 0; i < 2; ++i)
        (new QTreeWidgetItem(&twice, QStringList{QStringLiteral("ФАП")}))->setData(0, Qt::UserRole, qint64(78));
    try {
        SaveHospTree(TreeUnitBranch(&twice), data, QStringLiteral("Годовой"), 2026);
        ADD_FAILURE() << "one path written twice";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("\"ФАП\" и \"ФАП\" получили бы один файл")))
            << e.message().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(data + "/Второй район"));
}

// The group unload writes each file while it reads the next: every file holds
// the bytes the line writer makes of its rows, in table, column, row order;
// a write the disk refuses at a later file stops the group and leaves the
// older files as they were.
TEST(TransferFiles, GroupUnloadWritesEachFileAsTheLineWriterAndStopsAtAFailedWrite) {
    admtest::YearFixture fx;
    const double values[] = {0.1, 10.1 + 20.2 - 30.3, -7.25, 1e-5, 123456789012.5, 1.0 / 3, 99999999999999.9, 42};
    QMap<qint64, QStringList> expected;
    QTreeWidgetItem region(QStringList{QStringLiteral("Район")});
    region.setData(0, Qt::UserRole, fx.region);
    const qint64 units[] = {fx.crb, fx.poly};
    for (int u = 0; u < 2; ++u) {
        (new QTreeWidgetItem(&region, QStringList{u ? QStringLiteral("Поликлиника №1") : QStringLiteral("ЦРБ")}))
            ->setData(0, Qt::UserRole, units[u]);
        QList<std::tuple<qint64, int, int, double>> cells;
        for (int i = 0; i < (u ? 30 : 8); ++i)   // stored in the order row, column: the file wants column, row
            cells.append({i % 3 ? fx.t12 : fx.t30a, 3 + i % 3, 4 + i / 3, values[i % 8] * (u + 1)});
        for (const auto &[t, c, r, v] : cells) fx.value(units[u], t, c, r, v);
        fx.value(units[u], 999, 3, 4, 5);   // a table no longer in the catalogue
        std::sort(cells.begin(), cells.end());
        for (const auto &[t, c, r, v] : cells)
            expected[units[u]].append(line(num::general(v), "2026", t == fx.t12 ? "Ф12" : "Ф30", "(1000)", c, r));
    }
    const QString data = fx.yearFolder + "data";
    const QString files[] = {data + "/Район/ЦРБ - Годовой - 2026.orw",
                             data + "/Район/Поликлиника №1 - Годовой - 2026.orw"};
    const TreeWriteResult w = SaveHospTree(TreeUnitBranch(&region), data, QStringLiteral("Годовой"), 2026);
    EXPECT_EQ(w.files, 2);
    EXPECT_EQ(w.skippedValues, 2);
    const auto bytesOf = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    };
    for (int u = 0; u < 2; ++u)
        EXPECT_EQ(bytesOf(files[u]), cp1251::encode(expected[units[u]].join("\r\n") + "\r\n")) << u;

    // The second file outgrows what the disk takes: nothing is replaced.
    fx.value(fx.crb, fx.t30a, 5, 9, 0.2);
    const QByteArray before[] = {bytesOf(files[0]), bytesOf(files[1])};
    const LimitedRun run = runWithFileSizeLimit(before[0].size() + 100, [&](QString &message) {
        try {
            SaveHospTree(TreeUnitBranch(&region), data, QStringLiteral("Годовой"), 2026);
        } catch (const db::Error &e) {
            message = e.message();
            return true;
        }
        return false;
    });
    ASSERT_TRUE(run.result) << run.message.toStdString();
    EXPECT_TRUE(run.message.startsWith(QStringLiteral("Не удалось записать файл ") +
                                       QDir::toNativeSeparators(files[1])))
        << run.message.toStdString();
    for (int u = 0; u < 2; ++u) EXPECT_EQ(bytesOf(files[u]), before[u]) << u;
    EXPECT_TRUE(QDir(data + "/Район").entryList({"*.part"}, QDir::Files).isEmpty());
}

TEST(TransferFiles, StoppedGroupSaveLeavesTheOlderFiles) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    fx.value(fx.poly, fx.t30a, 3, 4, 2);
    QTreeWidgetItem region(QStringList{QStringLiteral("Район")});
    region.setData(0, Qt::UserRole, fx.region);
    (new QTreeWidgetItem(&region, QStringList{QStringLiteral("ЦРБ")}))->setData(0, Qt::UserRole, fx.crb);
    auto *sub = new QTreeWidgetItem(&region, QStringList{QStringLiteral("Участок")});
    sub->setData(0, Qt::UserRole, qint64(55));
    (new QTreeWidgetItem(sub, QStringList{QStringLiteral("Поликлиника №1")}))->setData(0, Qt::UserRole, fx.poly);
    const QString data = fx.yearFolder + "data";
    EXPECT_EQ(SaveHospTree(TreeUnitBranch(&region), data, QStringLiteral("Годовой"), 2026).files, 2);
    QStringList lines;
    // Stopped by "Отмена" at the second file, or failing there: the first file written again is not put in place, the
    // older files stay whole and nothing half-written is left beside them.
    fx.value(fx.crb, fx.t30a, 4, 4, 10.1);
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel);
        int files = 0;
        const auto stopAtSecond = [&](const QString &) {
            if (++files < 2) return;
            if (cancel) throw Cancelled();
            throw db::Error(QStringLiteral("Не удалось записать файл"));
        };
        int painted = 0;
        const auto paint = [&] { ++painted; };
        if (cancel)
            EXPECT_THROW(SaveHospTree(TreeUnitBranch(&region), data, QStringLiteral("Годовой"), 2026, stopAtSecond, paint), Cancelled);
        else
            EXPECT_THROW(SaveHospTree(TreeUnitBranch(&region), data, QStringLiteral("Годовой"), 2026, stopAtSecond, paint), db::Error);
        EXPECT_GT(painted, 0);   // while the files written are removed
        ASSERT_TRUE(cp1251::readLines(data + "/Район/ЦРБ - Годовой - 2026.orw", lines));
        EXPECT_EQ(lines, QStringList{line("1", "2026", "Ф30", "(1000)", 3, 4)});
        EXPECT_TRUE(QDir(data + "/Район").entryList({"*.part"}, QDir::Files).isEmpty());
    }
    // Run to its end, the group replaces the older files.
    SaveHospTree(TreeUnitBranch(&region), data, QStringLiteral("Годовой"), 2026);
    ASSERT_TRUE(cp1251::readLines(data + "/Район/ЦРБ - Годовой - 2026.orw", lines));
    EXPECT_EQ(lines, (QStringList{line("1", "2026", "Ф30", "(1000)", 3, 4), line("10.1", "2026", "Ф30", "(1000)", 4, 4)}));
    EXPECT_TRUE(QDir(data + "/Район").entryList({"*.part"}, QDir::Files).isEmpty());
}

// A district with official names of 90 characters and more on a long level name: every file, with the suffixes it is
// written under, fits a file name; an institution without values gets no file (an older one of it goes) and is named;
// the group load of what was written gives back every value without a word.
TEST(TransferFiles, GroupUnloadAndLoadOfADistrictWithLongNamesGiveBackEveryValue) {
    admtest::YearFixture fx;
    const QString official = QStringLiteral("Государственное бюджетное учреждение здравоохранения \"Центральная районная "
                                            "больница №%1\" (ёлки)");
    ASSERT_GE(official.size(), 90);
    const QString level = QStringLiteral("Первое полугодие 2024 года (уточнённые данные)");
    const qint64 district = fx.unit(QStringLiteral("Северо-Восточный район"), 0, -1, 5);
    const qint64 area = fx.unit(QStringLiteral("Участок [2]"), district, -1, 9);
    QTreeWidgetItem root(QStringList{QStringLiteral("Северо-Восточный район")});
    root.setData(0, Qt::UserRole, district);
    auto *sub = new QTreeWidgetItem(&root, QStringList{QStringLiteral("Участок [2]")});
    sub->setData(0, Qt::UserRole, area);
    QList<qint64> units;
    for (int i = 1; i <= 5; ++i) {
        // Names equal in their first 80 characters, one of them in lower case.
        const QString name = i == 4 ? official.arg(i).toLower() : official.arg(i);
        const qint64 id = fx.unit(name, i < 5 ? district : area, fx.typeHosp, i);
        auto *item = new QTreeWidgetItem(i < 5 ? &root : sub, QStringList{name});
        item->setData(0, Qt::UserRole, id);
        units.append(id);
    }
    const qint64 empty = units[2];
    const QList<double> hard{0.1, 0.2, -0.3, 46564745508.96, 12.345};   // as stored: 15 digits
    for (int i = 0; i < units.size(); ++i) {
        if (units[i] == empty) continue;
        fx.value(units[i], fx.t30a, 3, 4 + i, hard[i]);
        fx.value(units[i], fx.t12, 4, 3, -hard[(i + 1) % hard.size()]);
    }
    const QString data = fx.yearFolder + "data";
    // An older unload's file of the institution that has no values now.
    const QString older = data + "/" + unitStemOfNode(TreeUnitBranch(&root)) + "/" +
                          unitFileNameOfStem(unitStemOfNode(TreeUnitBranch(root.child(3))), level, 2026);
    ASSERT_TRUE(paths::makePath(QFileInfo(older).absolutePath()));
    ASSERT_TRUE(cp1251::writeLines(older, {line("5", "2026", "Ф30", "(1000)", 3, 4)}));

    const TreeWriteResult r = SaveHospTree(TreeUnitBranch(&root), data, level, 2026);
    EXPECT_EQ(r.files, 4);
    EXPECT_EQ(r.withoutValues, QStringList{official.arg(3)});
    EXPECT_EQ(r.removedOlder, 1);
    EXPECT_FALSE(QFileInfo::exists(older));
    EXPECT_TRUE(withoutValuesNote(r).contains(QStringLiteral("без значений за год (файлы для них не записаны): 1")));
    ASSERT_EQ(r.writtenFiles.size(), 4);
    for (const QString &f : r.writtenFiles)
        EXPECT_LE(QFileInfo(f).fileName().toUtf8().size() + int(sizeof(".part.XXXXXX")) - 1, 255) << f.toStdString();

    const QStringList before = fx.values();
    db::exec(fx.dataDb(), QStringLiteral("delete from data"));
    EXPECT_TRUE(levelQuestion(UnitNames(), r.writtenFiles, level).isEmpty());
    const adm::GroupLoadResult loaded = adm::loadUnitFiles(r.writtenFiles, QString(), false);
    EXPECT_EQ(loaded.loaded, 4);
    EXPECT_TRUE(loaded.missingUnits.isEmpty()) << loaded.missingUnits.join(u'|').toStdString();
    EXPECT_TRUE(loaded.failures.isEmpty()) << loaded.failures.join(u'|').toStdString();
    EXPECT_EQ(fx.values().join(u' ').toStdString(), before.join(u' ').toStdString());
}
