// Transfer files: the line codec, every writer and reader, and the promise
// that a bad file changes nothing.
#include "test_adm_fixture.h"

#include "forms/TransferFiles.h"
#include "platform/Codepage.h"

#include <QFile>
#include <QTreeWidgetItem>
#include <gtest/gtest.h>

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

    const char *bad[] = {
        "",                                               // nothing
        "\"1\",\"2026\",\"Ф30\",\"(1000)\",\"3\"",        // five fields
        "\"1\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\",\"5\"",  // seven
        "1,\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\"",      // unquoted
        "\"x\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\"",  // value no number
        "\"1\",\"2026\",\"Ф30\",\"(1000)\",\"3.5\",\"4\"",  // column no integer
        "\"1\",\"20a6\",\"Ф30\",\"(1000)\",\"3\",\"4\"",  // year no integer
        "\"1\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\" ", // trailing text
    };
    for (const char *b : bad) {
        QString why;
        EXPECT_FALSE(parseRecord(QString::fromUtf8(b), r, &why)) << b;
        EXPECT_FALSE(why.isEmpty()) << b;
    }
}

TEST(TransferCodec, KindByExtensionIgnoresCase) {
    EXPECT_EQ(kindOfFile("a/b.orv"), FileKind::ById);
    EXPECT_EQ(kindOfFile("a/b.ORV"), FileKind::ById);
    EXPECT_EQ(kindOfFile("x.Rps"), FileKind::ById);
    EXPECT_EQ(kindOfFile("x.orw"), FileKind::ByName);
    EXPECT_EQ(kindOfFile("x.RPD"), FileKind::ByName);
    EXPECT_EQ(kindOfFile("x.txt"), FileKind::Unknown);
    EXPECT_EQ(kindOfFile("orv"), FileKind::Unknown);
}

TEST(TransferCodec, UnitNameOfFile) {
    EXPECT_EQ(unitNameOfFile("/d/ЦРБ - Годовой - 2026.orw"), QStringLiteral("ЦРБ"));
    EXPECT_EQ(unitNameOfFile("/d/ЦРБ.orv"), QStringLiteral("ЦРБ"));
    EXPECT_EQ(unitNameOfFile("/d/Больница им. Н.И. Петрова.orw"), QStringLiteral("Больница им. Н.И. Петрова"));
    EXPECT_EQ(unitNameOfFile("/d/с.Лесное - 2026.orw"), QStringLiteral("с.Лесное"));
    EXPECT_EQ(safeFileName("ЦРБ г/о"), QStringLiteral("ЦРБ г_о"));
}

TEST(TransferFiles, WriteThenReadBackEveryKind) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 12.5);
    fx.value(fx.crb, fx.t30a, 6, 8, 3);
    fx.value(fx.crb, fx.t12, 3, 3, 0.1);
    fx.value(fx.crb, fx.t30a, 3, 4, 99, 2025);     // another year: not written
    fx.value(fx.poly, fx.t12, 3, 3, 5);            // another institution

    const QString orw = fx.dir.path() + "/ЦРБ - Годовой - 2026.orw";
    const WriteResult w = SaveHosp(fx.crb, orw);
    EXPECT_EQ(w.written, 3);
    EXPECT_EQ(w.skipped, 0);
    QFile f(orw);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(cp1251::decode(bytes),
              QStringLiteral("\"12.5\",\"2026\",\"Ф30\",\"(1000)\",\"3\",\"4\"\r\n"
                             "\"3\",\"2026\",\"Ф30\",\"(1000)\",\"6\",\"8\"\r\n"
                             "\"0.1\",\"2026\",\"Ф12\",\"(1000)\",\"3\",\"3\"\r\n"));
    EXPECT_EQ(bytes.indexOf("\xD4\x33\x30"), 15);   // "Ф30" in code page 1251

    // The whole institution into another one (name kind, form names in capitals).
    LoadResult r = LoadUnitInfo(fx.hospital, orw, QString(), false);
    EXPECT_EQ(r.inserted, 3);
    // The same lines with form ids, read as ".orv".
    const QString orv = fx.dir.path() + "/Поликлиника №1.orv";
    writeText(orv, {line("12.5", "2026", QString::number(fx.f30), "(1000)", 3, 4),
                    line("0.1", "2026", QString::number(fx.f12), "(1000)", 3, 3)});
    r = LoadUnitInfo(fx.poly, orv, QString(), false);
    EXPECT_EQ(r.inserted, 2);
    const QStringList rows = fx.values();
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|4=12.5@2026").arg(fx.hospital).arg(fx.t30a)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|3=0.1@2026").arg(fx.hospital).arg(fx.t12)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|4=12.5@2026").arg(fx.poly).arg(fx.t30a)));
    EXPECT_FALSE(rows.contains(QStringLiteral("%1|%2|3|3=5@2026").arg(fx.poly).arg(fx.t12)));  // replaced

    // A summary report: ".rpd" written, read back; ".rps" read.
    fx.value(7, fx.t30b, 3, 3, 42, 2026, "repdata");
    const QString rpd = fx.dir.path() + "/Свод.rpd";
    EXPECT_EQ(saveReport(7, rpd).written, 1);
    db::exec(fx.dataDb(), "delete from repdata");
    EXPECT_EQ(loadReport(7, rpd).inserted, 1);
    EXPECT_EQ(fx.values("repdata"), QStringList{QStringLiteral("7|%1|3|3=42@2026").arg(fx.t30b)});
    const QString rps = fx.dir.path() + "/Свод.RPS";
    writeText(rps, {line("8", "2026", QString::number(fx.f30), "(2000)", 4, 3)});
    EXPECT_EQ(loadReport(7, rps).inserted, 1);
    EXPECT_EQ(fx.values("repdata"), QStringList{QStringLiteral("7|%1|4|3=8@2026").arg(fx.t30b)});
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

TEST(TransferFiles, BadFilesChangeNothingAndSayWhy) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    fx.value(fx.crb, fx.t12, 3, 3, 2);
    const QStringList before = fx.values();

    const QString malformed = writeText(fx.dir.path() + "/m.orw",
                                        {line("5", "2026", "Ф30", "(1000)", 3, 4), "\"6\",\"2026\",\"Ф30\""});
    const QString otherYear = writeText(fx.dir.path() + "/y.orw", {line("5", "2025", "Ф30", "(1000)", 3, 4)});
    const QString badId = writeText(fx.dir.path() + "/i.orv", {line("5", "2026", "Ф30", "(1000)", 3, 4)});
    const QString wrongExt = writeText(fx.dir.path() + "/w.txt", {line("5", "2026", "Ф30", "(1000)", 3, 4)});
    const QString missing = fx.dir.path() + "/none.orw";

    struct Case { QString path; QString says; };
    const Case cases[] = {{malformed, QStringLiteral("строка 2")},
                          {otherYear, QStringLiteral("2025")},
                          {badId, QStringLiteral("код формы")},
                          {wrongExt, QStringLiteral("не является файлом данных")},
                          {missing, QStringLiteral("Не удалось прочитать")}};
    for (const Case &c : cases) {
        auto expectRefused = [&](const std::function<void()> &load) {
            try {
                load();
                ADD_FAILURE() << c.path.toStdString() << " was loaded";
            } catch (const db::Error &e) {
                EXPECT_TRUE(e.message().contains(c.says)) << e.message().toStdString();
            }
            EXPECT_EQ(fx.values(), before) << c.path.toStdString();
        };
        expectRefused([&] { LoadUnitInfo(fx.crb, c.path, QString(), false); });
        expectRefused([&] { loadForm(fx.crb, c.path, "Data", fx.f30, "Ф30"); });
        expectRefused([&] { LoadTableFromFile(fx.crb, c.path, fx.t30a); });
        expectRefused([&] { loadTable(fx.crb, c.path, "Data", fx.f30, "Ф30", fx.t30a, "(1000)"); });
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
    LoadResult r = loadForm(fx.crb, file, "Data", fx.f12, QStringLiteral("ф12"));
    EXPECT_EQ(r.inserted, 1);
    EXPECT_EQ(r.skipped, 3);
    QStringList rows = fx.values();
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|4=1@2026").arg(fx.crb).arg(fx.t30a)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|3=2@2026").arg(fx.crb).arg(fx.t30b)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|4|4=10@2026").arg(fx.crb).arg(fx.t12)));
    EXPECT_FALSE(rows.contains(QStringLiteral("%1|%2|3|3=3@2026").arg(fx.crb).arg(fx.t12)));

    // Table window: only the shown table; ".orv" by the form id.
    const QString orv = writeText(fx.dir.path() + "/t.orv", {line("20", "2026", QString::number(fx.f30), "(2000)", 4, 4),
                                                              line("21", "2026", QString::number(fx.f30), "(1000)", 4, 4)});
    r = loadTable(fx.crb, orv, "Data", fx.f30, "Ф30", fx.t30b, "(2000)");
    EXPECT_EQ(r.inserted, 1);
    rows = fx.values();
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|4|4=20@2026").arg(fx.crb).arg(fx.t30b)));
    EXPECT_FALSE(rows.contains(QStringLiteral("%1|%2|3|3=2@2026").arg(fx.crb).arg(fx.t30b)));
    EXPECT_TRUE(rows.contains(QStringLiteral("%1|%2|3|4=1@2026").arg(fx.crb).arg(fx.t30a)));
}

TEST(TransferFiles, TableLoadRefusesAFileWithACellOutsideTheTable) {
    admtest::YearFixture fx;
    // t30a: fixcols 1, fixrows 2, colcount 6, rowcount 8: stored columns 3..7, rows 4..9.
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    const QStringList before = fx.values();
    const struct { int column, row; } outside[] = {{2, 4}, {8, 4}, {3, 3}, {3, 10}};
    for (const auto &cell : outside) {
        const QString file = writeText(fx.dir.path() + "/out.orw",
                                       {line("7", "2026", "Ф30", "(1000)", 4, 5),
                                        line("8", "2026", "Ф30", "(1000)", cell.column, cell.row)});
        try {
            loadTable(fx.crb, file, "Data", fx.f30, "Ф30", fx.t30a, "(1000)");
            ADD_FAILURE() << cell.column << "," << cell.row << " was loaded";
        } catch (const db::Error &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("строка 2"))) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QStringLiteral("вне границ"))) << e.message().toStdString();
        }
        EXPECT_EQ(fx.values(), before);
    }
    // Cells of other tables are not this table's business, whatever their numbers.
    const QString other = writeText(fx.dir.path() + "/other.orw", {line("7", "2026", "Ф30", "(1000)", 7, 9),
                                                                   line("9", "2026", "Ф30", "(2000)", 40, 40)});
    const LoadResult r = loadTable(fx.crb, other, "Data", fx.f30, "Ф30", fx.t30a, "(1000)");
    EXPECT_EQ(r.inserted, 1);
    EXPECT_EQ(fx.values(), QStringList{QStringLiteral("%1|%2|7|9=7@2026").arg(fx.crb).arg(fx.t30a)});
}

TEST(TransferFiles, GroupTableLoadChecksTheCellRange) {
    admtest::YearFixture fx;
    // t30a: fixcols 1, fixrows 2, colcount 6, rowcount 8: columns 3..7, rows 4..9.
    const QString file = writeText(fx.dir.path() + "/ЦРБ - Годовой - 2026.orw",
                                   {line("1", "2026", "Ф30", "(1000)", 3, 4), line("2", "2026", "Ф30", "(1000)", 2, 4),
                                    line("3", "2026", "Ф30", "(1000)", 3, 3), line("4", "2026", "Ф30", "(1000)", 7, 9),
                                    line("5", "2026", "Ф30", "(1000)", 8, 9), line("6", "2026", "Ф30", "(2000)", 3, 3)});
    EXPECT_EQ(FindUnitIdByFileName(file), fx.crb);
    EXPECT_EQ(FindUnitIdByFileName(fx.dir.path() + "/црб.orw"), fx.crb);
    EXPECT_EQ(FindUnitIdByFileName(fx.dir.path() + "/Нет такого.orw"), -1);
    const LoadResult r = LoadTableFromFile(fx.crb, file, fx.t30a);
    EXPECT_EQ(r.inserted, 2);
    EXPECT_EQ(fx.values(), (QStringList{QStringLiteral("%1|%2|3|4=1@2026").arg(fx.crb).arg(fx.t30a),
                                        QStringLiteral("%1|%2|7|9=4@2026").arg(fx.crb).arg(fx.t30a)}));
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
    // An empty file of an institution empties it (nothing to load is no error).
    const QString empty = writeText(fx.dir.path() + "/e.orw", {});
    r = LoadUnitInfo(fx.crb, empty, QString(), false);
    EXPECT_EQ(r.inserted, 0);
    EXPECT_TRUE(fx.values().isEmpty());
}

TEST(TransferFiles, GroupSaveMirrorsTheTerritory) {
    admtest::YearFixture fx;
    fx.value(fx.crb, fx.t30a, 3, 4, 1);
    QTreeWidgetItem region(QStringList{QStringLiteral("Район")});
    region.setData(0, Qt::UserRole, fx.region);
    auto *crb = new QTreeWidgetItem(&region, QStringList{QStringLiteral("ЦРБ")});
    crb->setData(0, Qt::UserRole, fx.crb);
    auto *sub = new QTreeWidgetItem(&region, QStringList{QStringLiteral("Участок")});
    sub->setData(0, Qt::UserRole, qint64(55));
    auto *poly = new QTreeWidgetItem(sub, QStringList{QStringLiteral("Поликлиника №1")});
    poly->setData(0, Qt::UserRole, fx.poly);
    QStringList shown;
    const QString data = fx.yearFolder + "data";
    const TreeWriteResult res =
        SaveHospTree(&region, data, QStringLiteral("Годовой"), 2026, [&](const QString &t) { shown.append(t); });
    EXPECT_EQ(res.files, 2);
    EXPECT_EQ(shown, (QStringList{QStringLiteral("ЦРБ"), QStringLiteral("Поликлиника №1")}));
    EXPECT_TRUE(QFile::exists(data + "/Район/ЦРБ - Годовой - 2026.orw"));
    EXPECT_TRUE(QFile::exists(data + "/Район/Участок/Поликлиника №1 - Годовой - 2026.orw"));
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(data + "/Район/ЦРБ - Годовой - 2026.orw", lines));
    EXPECT_EQ(lines, QStringList{line("1", "2026", "Ф30", "(1000)", 3, 4)});
}
