#include "support/Files.h"
#include "reports/DbfFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QList<dbf::Field> sampleFields() {
    return {dbf::charField("a1", 2), dbf::charField("name", 12), dbf::numericField("a81", 15, 2),
            dbf::numericField("cnt", 5, 0)};
}

TEST(DbfFile, RoundTripKeepsLayoutTextsAndNumbers) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.dbf");
    dbf::Writer w(path, sampleFields());
    w.open();
    w.append({"24", "Ёлкино район", 1234.565, 42});
    w.append({"", QVariant(), -0.001, -7});
    w.append({"01", "abc", 999999999999.99, 0});
    w.commit();
    EXPECT_EQ(w.recordCount(), 3);

    const QByteArray raw = fileBytes(path);
    EXPECT_EQ(raw.size(), 32 + 4 * 32 + 1 + 3 * (1 + 2 + 12 + 15 + 5) + 1);
    EXPECT_EQ(quint8(raw[0]), 0x03);
    EXPECT_EQ(raw.back(), char(0x1A));
    EXPECT_TRUE(raw.contains(QByteArray("\xA8\xEB\xEA\xE8\xED\xEE", 6)));   // "Ёлкино" in code page 1251
    EXPECT_TRUE(raw.contains("        1234.57   42"));                      // right-aligned numbers

    const dbf::Table t = dbf::read(path);
    EXPECT_EQ(t.language, dbf::kLanguageCp1251);
    EXPECT_TRUE(t.endMark);
    ASSERT_EQ(t.records.size(), 3);
    EXPECT_EQ(t.value(0, "name").toString(), "Ёлкино район");
    EXPECT_DOUBLE_EQ(t.value(0, "A81").toDouble(), 1234.57);
    EXPECT_DOUBLE_EQ(t.value(0, "cnt").toDouble(), 42);
    EXPECT_EQ(t.value(1, "a1").toString(), "");
    EXPECT_EQ(t.value(1, "name").toString(), "");
    EXPECT_DOUBLE_EQ(t.value(1, "a81").toDouble(), 0.0);
    EXPECT_FALSE(raw.contains("-0.00"));
    EXPECT_DOUBLE_EQ(t.value(1, "cnt").toDouble(), -7);
    EXPECT_DOUBLE_EQ(t.value(2, "a81").toDouble(), 999999999999.99);
    EXPECT_FALSE(t.deleted[0]);
}

TEST(DbfFile, OversizedValuesAreRefusedWithoutSpoilingTheTable) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.dbf");
    dbf::Writer w(path, sampleFields());
    w.open();
    EXPECT_THROW(w.append({"123", "x", 1, 1}), dbf::Error);                 // text longer than CHAR(2)
    EXPECT_THROW(w.append({"1", "x", 1e13, 1}), dbf::Error);                // does not fit NUMERIC(15,2)
    EXPECT_THROW(w.append({"1", "x", "abc", 1}), dbf::Error);               // not a number
    EXPECT_THROW(w.append({"1", "x", 1}), dbf::Error);                      // too few values
    w.append({"1", "x", 2.5, 3});
    w.commit();
    const dbf::Table t = dbf::read(path);
    ASSERT_EQ(t.records.size(), 1);
    EXPECT_DOUBLE_EQ(t.value(0, "a81").toDouble(), 2.5);
}

TEST(DbfFile, UncommittedWriteLeavesOlderTableUntouched) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.dbf");
    {
        dbf::Writer w(path, sampleFields());
        w.open();
        w.append({"1", "old", 1, 1});
        w.commit();
    }
    const QByteArray before = fileBytes(path);
    {
        dbf::Writer w(path, sampleFields());
        w.open();
        w.append({"2", "new", 2, 2});
    }   // abandoned
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"t.dbf"});
}

TEST(DbfFile, InvalidLayoutsAndDamagedFilesAreReported) {
    QTemporaryDir dir;
    EXPECT_THROW(dbf::Writer(dir.filePath("a.dbf"), {}), dbf::Error);
    EXPECT_THROW(dbf::Writer(dir.filePath("a.dbf"), {dbf::charField("averylongname", 3)}), dbf::Error);
    EXPECT_THROW(dbf::Writer(dir.filePath("a.dbf"), {dbf::charField("a", 3), dbf::charField("A", 3)}), dbf::Error);
    EXPECT_THROW(dbf::Writer(dir.filePath("a.dbf"), {dbf::numericField("n", 3, 2)}), dbf::Error);

    EXPECT_THROW(dbf::read(dir.filePath("missing.dbf")), dbf::Error);
    const QString path = dir.filePath("cut.dbf");
    {
        dbf::Writer w(path, sampleFields());
        w.open();
        w.append({"1", "x", 1, 1});
        w.commit();
    }
    QFile f(path);
    f.open(QIODevice::ReadWrite);
    f.resize(f.size() - 10);
    f.close();
    EXPECT_THROW(dbf::read(path), dbf::Error);
}

} // namespace
