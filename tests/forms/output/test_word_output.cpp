// Printed forms, their protocol and report copy.
#include "engine/Checksums.h"
#include "support/TestWork.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "forms/output/WordOutput.h"
#include "test_word_fixture.h"
#include "platform/office/Convert.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/office/WordDocument.h"
#include "support/WindowTestBase.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include "forms/shared/TransferFiles.h"
#include <gtest/gtest.h>

namespace ids = sample::ids;


TEST_F(WordOutputTest, FillingPutsStoredValuesIntoTheMappedCells) {
    // Sample mapping: table 1 from column 4, row 4 <- Ф30 (1000) СТР1..5 ГР4..7.
    office::WordDocument doc = wordout::FillFormDoc(context(ids::NorthHospital));
    office::WordTable t = doc.table(1);
    // b = 50: СТР1 ГР4..7 = 50, 48, 47, 23 (whole numbers in this table); СТР2 ГР4 = floor(0.4 * 50).
    EXPECT_EQ(t.cellText(4, 4), "50");
    EXPECT_EQ(t.cellText(5, 4), "20");
    // Outside the rectangle the template stays.
    EXPECT_EQ(t.cellText(4, 8), "т4.8");
    EXPECT_EQ(t.cellText(9, 4), "т9.4");

    // A cell whose value was deleted keeps the template's text.
    db::exec(db::connection(db::kData), "delete from data where hospital=? and \"table\"=? and \"column\"=5 and \"row\"=5",
             {ids::NorthHospital, ids::TableF30Staff});
    office::WordDocument again = wordout::FillFormDoc(context(ids::NorthHospital));
    EXPECT_EQ(again.table(1).cellText(4, 4), "т4.4");

    // Fractions in the shortest form.
    setValue(ids::NorthHospital, ids::TableF30Staff, 6, 5, 12.5);
    EXPECT_EQ(wordout::FillFormDoc(context(ids::NorthHospital)).table(1).cellText(4, 5), "12.5");
}

// A table number of any length maps its table: "(1000-дополнение-1)"
// written with its outer brackets is 21 characters.
TEST_F(WordOutputTest, LongTableNumbersAreMappedWhole) {
    db::exec(db::connection(db::kMain), "update tables set tablen=? where ident=?",
             {QStringLiteral("(1000-дополнение-1)"), ids::TableF30Staff});
    fx.reloadCaches();
    writeMapping({QStringLiteral("1,4,4,[(1000-дополнение-1)],4,1,7,5")});
    EXPECT_EQ(wordout::parseMappingLine(QStringLiteral("1,4,4,[(1000-дополнение-1)],4,1,7,5")).key(),
              QStringLiteral("(1000-дополнение-1)"));
    office::WordDocument doc = wordout::FillFormDoc(context(ids::NorthHospital));
    EXPECT_EQ(doc.table(1).cellText(4, 4), "50");
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
}

TEST_F(WordOutputTest, EmptyMappingGivesTheBareTemplate) {
    writeMapping({});
    office::WordDocument bare = wordout::FillFormDoc(context(ids::NorthHospital));
    EXPECT_EQ(bare.table(1).cellText(4, 4), "т4.4");
}

TEST_F(WordOutputTest, FillingFailuresEndWithAMessage) {
    writeMapping({"1,4,4,[(7777)],4,1,7,5"});
    EXPECT_THROW(wordout::FillFormDoc(context(ids::NorthHospital)), db::Error);
    writeMapping({"3,4,4,[(1000)],4,1,7,5"});   // the template has one table
    EXPECT_THROW(wordout::FillFormDoc(context(ids::NorthHospital)), office::Error);
    writeMapping({"1,4,4,[(1000)],4,1,x,5"});
    EXPECT_THROW(wordout::FillFormDoc(context(ids::NorthHospital)), db::Error);
    QFile::remove(fx.yearFolder() + "forms/Ф30.docx");
    writeMapping({"1,4,4,[(1000)],4,1,7,5"});
    EXPECT_THROW(wordout::FillFormDoc(context(ids::NorthHospital)), std::exception);
}

TEST_F(WordOutputTest, DebugPrintDrawsBordersAndAChessboard) {
    writeMapping({"1,1,1,[(1000)],4,1,8,6"});
    QStringList labels;
    wordout::DebugPrint p = wordout::DebugFormDoc(context(ids::NorthHospital), nullptr,
                                                  [&](const QString &t) { labels << t; });
    ASSERT_TRUE(p.document);
    EXPECT_EQ(labels, QStringList{"Обработка таблицы: [(1000)]"});
    office::WordTable t = p.document->table(1);
    EXPECT_EQ(t.cellText(6, 5), "[(1000)](1) стр:6 гр:8");   // the border
    EXPECT_EQ(t.cellText(2, 3), "[(1000)](1) стр:2 гр:6");   // the even squares inside
    EXPECT_EQ(t.cellText(2, 2), "т2.2");
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(WordOutputTest, DebugPrintReportsEachBadLineAndMayBeStopped) {
    writeMapping({"1 2 3", "1,1", "1,1,1,[(9999)],4,1,5,2", "4,1,1,[(1000)],4,1,5,2", "x,1,1,[(1000)],4,1,5,2",
                  "1,9,9,[(1000)],4,1,6,3", "1,1,1,[(1000)],4,1,4,1"});
    dialogs.answers = {true, true, false};   // go on after the bad number and the first cell, then stop
    wordout::DebugPrint p = wordout::DebugFormDoc(context(ids::NorthHospital), nullptr, {});
    ASSERT_TRUE(p.document);
    EXPECT_TRUE(p.stopped);
    EXPECT_EQ(dialogs.messages.value(0), "Ошибка: некорректный формат строки в файле: 1 2 3");
    EXPECT_EQ(dialogs.messages.value(1), "Ошибка: некорректный формат строки (wsc) в файле");
    EXPECT_EQ(dialogs.messages.value(2), "Ошибка: не удалось получить размер таблицы [(9999)]");
    EXPECT_TRUE(dialogs.messages.value(3).startsWith("Ошибка при заполнении таблицы [(1000)]: "));
    EXPECT_EQ(dialogs.messages.value(4), "Обработка прервана пользователем");
    ASSERT_EQ(dialogs.questions.size(), 3);
    EXPECT_TRUE(dialogs.questions[0].endsWith("\r\n\r\nПродолжить обработку?"));
    // Word row 9, column 11 lies outside the 10 x 10 table.
    EXPECT_TRUE(dialogs.questions[1].startsWith("Ошибка при заполнении ячейки (таблица 1, строка 9, столбец 11): "));
    // The line after the stop is not printed.
    EXPECT_EQ(p.document->table(1).cellText(1, 1), "т1.1");

    QFile::remove(fx.yearFolder() + "forms/Ф30.txt");
    dialogs.messages.clear();
    EXPECT_FALSE(wordout::DebugFormDoc(context(ids::NorthHospital), nullptr, {}).document);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Ошибка: не удалось открыть файл " + fx.yearFolder() + "forms/Ф30.txt"));
}

TEST_F(WordOutputTest, ProtocolListsTheFormAndEveryTable) {
    office::WordDocument doc = office::WordDocument::createBlank();
    office::WordTable t = wordout::addProtocolTable(doc, ValueTable::Data, ids::NorthHospital, ids::FormF30);
    ASSERT_EQ(t.rowCount(), 3);
    EXPECT_EQ(t.cellText(2, 1), "(1000)");
    EXPECT_EQ(t.cellText(3, 1), "(2000)");

    db::exec(db::connection(db::kMain), "insert into forms (formname, decipher) values ('Ф99', 'пустая')");
    const qint64 empty = db::lastInsertId(db::connection(db::kMain));
    office::WordDocument alone = wordout::buildProtocolDocument(context(ids::NorthHospital, empty, "Ф99"), "Северная ЦРБ");
    ASSERT_EQ(alone.tableCount(), 1);
    EXPECT_EQ(alone.table(1).rowCount(), 1);
    EXPECT_EQ(alone.table(1).cellText(1, 2), "5381");
}

TEST_F(WordOutputTest, ChecksumsAboveTheSignedRangeReadBackUnsigned) {
    office::WordDocument doc = office::WordDocument::createBlank();
    office::WordTable t = doc.addTable(1, 2);
    t.setCellText(1, 2, "4294967295");
    EXPECT_EQ(wordout::protocolChecksum(doc), 4294967295u);
    t.setCellText(1, 2, "3000000000");
    EXPECT_EQ(wordout::protocolChecksum(doc), 3000000000u);
    t.setCellText(1, 2, "сумма");
    EXPECT_THROW(wordout::protocolChecksum(doc), db::Error);
}

TEST_F(WordOutputTest, ReportCopyIsProtectedAndDetectsLaterChanges) {
    const wordout::PrintContext c = context(ids::NorthHospital);
    const QString path = wordout::makeReportCopy(c, "Северная ЦРБ", "06.12.2026 10:00:00");
    EXPECT_EQ(wordout::existingReportCopy(c, "Северная ЦРБ"), path);

    office::WordDocument copy = office::WordDocument::open(path);
    EXPECT_TRUE(copy.checkProtectionPassword(wordout::reportPassword()));
    EXPECT_FALSE(copy.checkProtectionPassword("другой"));
    ASSERT_EQ(copy.sectionCount(), 2);
    const QString header = "Ф30 Северная ЦРБ 2024 06.12.2026 10:00:00";
    EXPECT_EQ(copy.section(2).headerText(office::HeaderKind::Primary), header);
    EXPECT_TRUE(copy.section(2).paragraphs().contains("Протокол печати Ф30"));
    EXPECT_EQ(copy.table(1).cellText(4, 4), "50");
    EXPECT_EQ(wordout::protocolChecksum(copy), FormDataChecksum(c.valueTable, ids::NorthHospital, ids::FormF30));
    EXPECT_FALSE(wordout::reportCopyChanged(path, c));

    setValue(ids::NorthHospital, ids::TableF30Staff, 5, 5, 51);
    EXPECT_TRUE(wordout::reportCopyChanged(path, c));
}

TEST_F(WordOutputTest, InstitutionsOfOneNameKeepACopyEach) {
    const QString alone = wordout::reportCopyPath(context(ids::NorthHospital), "Северная ЦРБ");
    EXPECT_EQ(QFileInfo(alone).fileName(), "Ф30 Северная ЦРБ #5 2024.docx");
    db::exec(db::kMain, "insert into administration (unit, dependence, medicaltype) values ('северная црб', 2, 2)");
    const qint64 twin = db::lastInsertId(db::connection(db::kMain));
    const QString first = wordout::makeReportCopy(context(ids::NorthHospital), "Северная ЦРБ", "06.12.2026 10:00:00");
    EXPECT_EQ(QFileInfo(first).fileName(), "Ф30 Северная ЦРБ #5 2024.docx");
    // The second institution finds no copy of its own: it is not shown the first one's document.
    EXPECT_TRUE(wordout::existingReportCopy(context(twin), "северная црб").isEmpty());
    EXPECT_EQ(wordout::existingReportCopy(context(ids::NorthHospital), "Северная ЦРБ"), first);
}

// Copies written under the old naming (no mark while the name was the unit's alone, " #id" while another unit shared
// it) are still found. One without the mark is the unit's only while no other unit has its name; found so, it takes
// the mark, so that a namesake appearing later neither takes it nor hides it.
TEST_F(WordOutputTest, CopiesOfTheOldNamingAreStillFound) {
    const wordout::PrintContext north = context(ids::NorthHospital);
    const QString made = wordout::makeReportCopy(north, "Северная ЦРБ", "06.12.2026 10:00:00");
    const QString plain = fx.yearFolder() + "Report/Ф30 Северная ЦРБ 2024.docx";
    ASSERT_TRUE(QFile::rename(made, plain));
    db::exec(db::kMain, "insert into administration (unit, dependence, medicaltype) values ('Другая', 2, 2)");
    const qint64 twin = db::lastInsertId(db::connection(db::kMain));
    // While another unit has the name, the unmarked copy is neither's.
    db::exec(db::kMain, "update administration set unit='СЕВЕРНАЯ ЦРБ' where id=?", {twin});
    EXPECT_TRUE(wordout::existingReportCopy(north, "Северная ЦРБ").isEmpty());
    EXPECT_TRUE(wordout::existingReportCopy(context(twin), "СЕВЕРНАЯ ЦРБ").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(plain));
    // Alone again: it is found and renamed to the marked name, which the namesake then never finds.
    db::exec(db::kMain, "update administration set unit='Другая' where id=?", {twin});
    EXPECT_EQ(wordout::existingReportCopy(north, "Северная ЦРБ"), made);
    EXPECT_FALSE(QFileInfo::exists(plain));
    db::exec(db::kMain, "update administration set unit='Северная ЦРБ' where id=?", {twin});
    EXPECT_EQ(wordout::existingReportCopy(north, "Северная ЦРБ"), made);
    EXPECT_TRUE(wordout::existingReportCopy(context(twin), "Северная ЦРБ").isEmpty());
    // An old .doc of either naming is found as well.
    ASSERT_TRUE(QFile::rename(made, made.chopped(1)));
    EXPECT_EQ(wordout::existingReportCopy(north, "Северная ЦРБ"), made.chopped(1));
}

TEST_F(WordOutputTest, TheNewerOfTwoTemplatesPrintsAndIsNamed) {
    const wordout::PrintContext c = context(ids::NorthHospital);
    const QString docx = fx.yearFolder() + "forms/Ф30.docx", doc = fx.yearFolder() + "forms/Ф30.doc";
    writeMapping({"1,4,4,[(1000)],4,1,4,1"});
    EXPECT_TRUE(wordout::templateNote(c).isEmpty());   // the .docx alone: no choice
    // An update brought a newer .doc beside the old .docx.
    QFile f(doc);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray(504, '\0'));
    const QDateTime now = QDateTime::currentDateTime();
    ASSERT_TRUE(f.setFileTime(now, QFileDevice::FileModificationTime));
    f.close();
    QFile old(docx);
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(now.addDays(-30), QFileDevice::FileModificationTime));
    old.close();
    EXPECT_EQ(office::newerTemplate(doc, "docx"), doc);
    EXPECT_EQ(wordout::templateNote(c), "Использован шаблон Ф30.doc: он изменен позже, чем Ф30.docx.");
    // Printing takes the .doc, never the stale .docx: without a converter it says so instead of printing the old one.
    if (office::converterPath().isEmpty()) {
        try {
            wordout::FillFormDoc(c);
            ADD_FAILURE() << "printed from the stale template";
        } catch (const office::Error &e) {
            EXPECT_TRUE(e.message().contains("Ф30.doc")) << e.message().toStdString();
        }
    }
    // The .docx saved anew later is the template again.
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(now.addSecs(60), QFileDevice::FileModificationTime));
    old.close();
    EXPECT_EQ(wordout::templateNote(c), "Использован шаблон Ф30.docx: он изменен позже, чем Ф30.doc.");
    EXPECT_EQ(wordout::FillFormDoc(c).table(1).cellText(4, 4), "50");
}

TEST_F(WordOutputTest, ReportCopyNamesAreSafeAndStampsDropMidnight) {
    const QString path = wordout::reportCopyPath(context(5), "ГБУЗ \"ЦРБ\" г/о");
    EXPECT_EQ(QFileInfo(path).fileName(), "Ф30 ГБУЗ _ЦРБ_ г_о #5 2024.docx");
    // Official names past a file name's length: shortened, kept apart, and the copy is written and found again.
    const QString official = QStringLiteral("Государственное бюджетное учреждение здравоохранения ").repeated(3);
    const QString one = wordout::reportCopyPath(context(5), official + "№1");
    const QString two = wordout::reportCopyPath(context(5), official + "№2");
    EXPECT_NE(one, two);
    EXPECT_LE(QFileInfo(one).fileName().toUtf8().size(), transfer::kMaxUnitFileNameBytes);
    const wordout::PrintContext c = context(ids::NorthHospital);
    const QString made = wordout::makeReportCopy(c, official + "№1", "06.12.2026 10:00:00");
    EXPECT_TRUE(QFileInfo::exists(made));
    EXPECT_EQ(wordout::existingReportCopy(c, official + "№1"), made);
    const QDateTime midnight(QDate(2026, 12, 6), QTime(0, 0));
    EXPECT_FALSE(wordout::printStamp(midnight).contains(':'));
    EXPECT_TRUE(wordout::printStamp(midnight.addSecs(61)).startsWith(wordout::printStamp(midnight) + ' '));
    EXPECT_TRUE(wordout::printStamp(midnight.addSecs(61)).contains(':'));
}

using SampleTemplateTest = InputWindowTest;

// The sample carries a print template of Ф30 made by the office layer, so "Печать формы" can be tried on it; a form
// without one is told with its file named once, in Russian.
TEST_F(SampleTemplateTest, SampleF30PrintsAndAMissingMappingNamesItsFileOnce) {
    wordout::PrintContext c;
    c.formId = ids::FormF30;
    c.formName = "Ф30";
    c.institution = ids::NorthHospital;
    c.yearFolder = fx.yearFolder();
    c.yearText = QString::number(fx.year());
    const office::WordDocument doc = wordout::FillFormDoc(c);
    EXPECT_EQ(doc.table(1).cellText(4, 1), "Врачи - всего");
    EXPECT_EQ(doc.table(1).cellText(4, 4), "50");
    EXPECT_EQ(doc.table(1).cellText(4, 7), "23");

    c.formId = ids::FormF14;
    c.formName = "Ф14";
    try {
        wordout::FillFormDoc(c);
        ADD_FAILURE() << "no error";
    } catch (const db::Error &e) {
        EXPECT_EQ(e.message().count("Ф14.txt"), 1) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains("файл не найден")) << e.message().toStdString();
    }
}
