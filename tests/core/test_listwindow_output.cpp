// Word and Excel output of the list window, read back through the office layer.
#include "core/ListWindow.h"
#include "engine/SharedState.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/WordDocument.h"
#include "tests/support/FakeDialogs.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

ListContents sample() {
    ListContents c;
    c.caption = QStringLiteral("2024 - Основная - Годовой");
    c.heading = QStringLiteral("Ф30 - т(1000) -\r\nстр. 1");
    c.columns = QStringList{QStringLiteral("Учреждение"), QStringLiteral("Значение")};
    c.rows = {{QStringLiteral("Северная ЦРБ"), QStringLiteral("12.5")},
              {QStringLiteral("ФАП Лесной"), QStringLiteral("007")},
              {QStringLiteral("Городская поликлиника №10 (взрослая)"), QStringLiteral("117.50%")},
              {QStringLiteral("Итог"), QStringLiteral("125.00<=55.00")},
              {QStringLiteral("Разность"), QStringLiteral("-0.10")}};
    return c;
}

TEST(ListWindowOutput, WordDocumentHoldsHeadingAndTable) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.docx"));
    {
        office::WordDocument doc = BuildListDocument(sample());
        doc.saveAs(path);
    }
    office::WordDocument doc = office::WordDocument::open(path);
    const QStringList paras = doc.paragraphs();
    ASSERT_GE(paras.size(), 2);
    EXPECT_EQ(paras[0], QStringLiteral("2024 - Основная - Годовой"));
    EXPECT_EQ(paras[1], QStringLiteral("Ф30 - т(1000) -стр. 1"));
    ASSERT_EQ(doc.tableCount(), 1);
    office::WordTable t = doc.table(1);
    ASSERT_EQ(t.rowCount(), 6);
    EXPECT_EQ(t.cellText(1, 1), QStringLiteral("Учреждение"));
    EXPECT_EQ(t.cellText(2, 2), QStringLiteral("12.5"));
    EXPECT_EQ(t.cellText(3, 1), QStringLiteral("ФАП Лесной"));
}

TEST(ListWindowOutput, WorkbookCellsReadBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.xlsx"));
    {
        office::ExcelWorkbook book = BuildListWorkbook(sample());
        book.saveAs(path);
    }
    office::ExcelWorkbook book = office::ExcelWorkbook::open(path);
    office::ExcelSheet &s = book.activeSheet();
    EXPECT_EQ(s.text(1, 1), QStringLiteral("2024 - Основная - Годовой"));
    EXPECT_EQ(s.text(3, 2), QStringLiteral("Учреждение"));
    EXPECT_EQ(s.text(3, 3), QStringLiteral("Значение"));
    EXPECT_EQ(s.text(4, 2), QStringLiteral("Северная ЦРБ"));
    EXPECT_DOUBLE_EQ(s.value(4, 3).toDouble(), 12.5);
    // A code with leading zeros stays as written.
    EXPECT_EQ(s.text(5, 3), QStringLiteral("007"));
    EXPECT_FALSE(s.hasValue(3, 1));
    // Numbers as numbers, shown as the list showed them.
    EXPECT_DOUBLE_EQ(s.value(6, 3).toDouble(), 1.175);
    EXPECT_EQ(s.format(6, 3).numberFormat, QStringLiteral("0.00%"));
    EXPECT_DOUBLE_EQ(s.value(8, 3).toDouble(), -0.1);
    EXPECT_EQ(s.format(8, 3).numberFormat, QStringLiteral("0.00"));
    EXPECT_EQ(s.text(7, 3), QStringLiteral("125.00<=55.00"));
    // Columns as wide as their longest text.
    EXPECT_GE(s.columnWidth(2), QStringLiteral("Городская поликлиника №10 (взрослая)").size());
    EXPECT_GE(s.columnWidth(3), QStringLiteral("125.00<=55.00").size());
}

TEST(ListWindowOutput, PrintCommandsSaveAndOpen) {
    QTemporaryDir dir;
    const QString savedPath = shared().ConfigPath;
    const int savedYear = shared().Year;
    shared().ConfigPath = dir.path() + QLatin1Char('/');
    shared().Year = 2024;
    FakeDialogs fake;
    TForm1 w;
    w.setWindowTitle(QStringLiteral("Справка"));
    w.setHeading(QStringLiteral("Итог"));
    w.ShowTextList({QStringLiteral("a\t1")}, QStringLiteral("Имя\tЧисло"));
    w.printToWordCommand()->trigger();
    w.printToExcelCommand()->trigger();
    shared().ConfigPath = savedPath;
    shared().Year = savedYear;
    EXPECT_TRUE(fake.messages.isEmpty()) << fake.messages.join('\n').toStdString();
    ASSERT_EQ(fake.opened.size(), 2);
    EXPECT_TRUE(fake.opened[0].endsWith(QStringLiteral(".docx")));
    EXPECT_TRUE(fake.opened[1].endsWith(QStringLiteral(".xlsx")));
    for (const QString &f : fake.opened) {
        EXPECT_TRUE(f.startsWith(dir.path()));
        EXPECT_TRUE(QFileInfo(f).size() > 0);
    }
}

} // namespace
