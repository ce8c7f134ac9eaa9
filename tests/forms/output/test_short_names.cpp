// Short names of institutions: the file round trip, lookups, the prompt for a missing name and the list editor.
#include "core/SampleConfig.h"
#include "support/Files.h"
#include "support/TestWork.h"
#include "engine/SharedState.h"
#include "forms/output/ShortNames.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "support/WindowTestBase.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct ShortNamesTest : SampleTest {
    void SetUp() override {
        SampleTest::SetUp();
        paths::setProgramFolder(fx.programFolder());
    }
    QStringList fileLines() const {
        QStringList lines;
        EXPECT_TRUE(cp1251::readLines(fx.programFolder() + "ShortNames.txt", lines));
        return lines;
    }
};

} // namespace

TEST_F(ShortNamesTest, FileRoundTripKeepsShortNamesAndEmptyRows) {
    EXPECT_FALSE(shortnames::exists());
    const QString longest = QString(31, QChar(u'Ж'));
    shortnames::save({{"Противотуберкулёзный диспансер", "ПТД"}, {"", ""}, {"Областная\tбольница", longest}});
    const QByteArray bytes = fileBytes(fx.programFolder() + "ShortNames.txt");
    EXPECT_TRUE(bytes.contains("\r\n\t\r\n"));              // the empty row as a lone TAB
    EXPECT_EQ(bytes.left(2), cp1251::encode("Пр"));          // code page 1251

    const QStringList lines = shortnames::load();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "Противотуберкулёзный диспансер\tПТД");
    // The Tab typed became a blank; the short name is cut to 30 characters.
    EXPECT_EQ(shortnames::LookupShortName("Областная больница", lines), longest.left(30));
    EXPECT_EQ(shortnames::LookupShortName("областная больница", lines), "");   // letter case counts
    EXPECT_EQ(shortnames::LookupShortName("Нет такой", lines), "");

    // A line without a TAB is all short name.
    EXPECT_EQ(shortnames::splitLine("только имя"), (shortnames::Row{"", "только имя"}));
    EXPECT_EQ(shortnames::splitLine("а\tб\tв"), (shortnames::Row{"а", "б\tв"}));
}

// Short names a sheet cannot hold as they are are written as typed, every row of the list; the sheet made for
// one mends its name.
TEST_F(ShortNamesTest, NamesThatCannotBeSheetNamesAreWrittenAndMendedOnTheSheet) {
    const QStringList bad = {"ЦРБ [1]", "ЦРБ: север", "ЦРБ*", "ЦРБ?", "ЦРБ 1/2", "ЦРБ\\2", "ЦРБ]", "'ЦРБ'"};
    QList<shortnames::Row> rows = {{"Южная ЦРБ", "ЮЦРБ"}};
    for (const QString &b : bad) rows.append({"Больница " + b, b});
    shortnames::save(rows);
    const QStringList lines = fileLines();
    ASSERT_EQ(lines.size(), rows.size());
    for (const QString &b : bad) EXPECT_EQ(shortnames::LookupShortName("Больница " + b, lines), b);
    EXPECT_EQ(office::fittedSheetName("ЦРБ [1]"), "ЦРБ _1_");
    EXPECT_EQ(office::fittedSheetName("ЦРБ: север/юг\\*?"), "ЦРБ_ север_юг___");
    EXPECT_EQ(office::fittedSheetName("'ЦРБ'"), "_ЦРБ_");
    EXPECT_EQ(office::fittedSheetName(QString(40, u'Ж')), QString(31, u'Ж'));
    // A surrogate pair at the cut is not split into half a character.
    EXPECT_EQ(office::fittedSheetName(QString(30, u'Ж') + QStringLiteral("😀")), QString(30, u'Ж'));
    for (const QString &b : bad) {
        office::ExcelWorkbook book = office::ExcelWorkbook::create();
        EXPECT_TRUE(book.addSheet().trySetName(office::fittedSheetName(b))) << b.toStdString();
    }

    // Through the editor: a long name is cut to its first 30 characters, not
    // refused; a sheet rule's character past them does not count.
    TForm5 editor;
    const QString name = QStringLiteral("Ёлкинская центральная больница?");   // "?" is the 31st character
    editor.setRows({{"Южная ЦРБ", name}});
    editor.saveList();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    EXPECT_EQ(fileLines().value(0), "Южная ЦРБ\t" + name.left(30));
}

TEST_F(ShortNamesTest, MissingShortNameIsAskedForAndNotSaved) {
    const QStringList list{"Областная больница\tОБ", "Южная ЦРБ\t"};
    EXPECT_EQ(shortnames::GetShortName("Областная больница", list), "ОБ");
    EXPECT_TRUE(dialogs.modalTitles.isEmpty());

    QString label;
    bool okShownEmpty = true, okShownTyped = false;
    dialogs.modals.push_back([&](QDialog *d) {
        auto *f = static_cast<TForm6 *>(d);
        label = f->institutionLabel()->text();
        okShownEmpty = f->okButton()->isVisibleTo(f);
        f->shortNameEdit()->setText("ЦРБ [1]");
        okShownTyped = f->okButton()->isVisibleTo(f);
        EXPECT_FALSE(okShownTyped);
        EXPECT_EQ(f->hintLabel()->text(), shortnames::kSheetNameRule);
        f->shortNameEdit()->setText(QString(40, QChar(u'К')));
        okShownTyped = f->okButton()->isVisibleTo(f);
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(shortnames::GetShortName("Нет в списке", list), QString(31, QChar(u'К')));
    EXPECT_EQ(label, "Нет в списке\n\rотсутствует в списке сокращенных наименований");
    EXPECT_FALSE(okShownEmpty);
    EXPECT_TRUE(okShownTyped);
    EXPECT_EQ(dialogs.modalTitles, QStringList{"Не задано сокращенное наименование МО"});
    EXPECT_EQ(dialogs.messages,
              QStringList{"Пожалуйста, не забудьте подкорректировать список сокращенных наименований!"});

    dialogs.modals.push_back([&](QDialog *d) {
        label = static_cast<TForm6 *>(d)->institutionLabel()->text();
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(shortnames::GetShortName("Южная ЦРБ", list), "");
    EXPECT_EQ(label, "Не задано сокращенное наименование для\n\rЮжная ЦРБ");
    EXPECT_FALSE(shortnames::exists());
}

// Long full names in a narrow window: the short name's column stays in view whole, the full names give way and are
// whole in their tips.
TEST_F(ShortNamesTest, ShortNameColumnStaysInViewBesideLongNames) {
    const QString longName = QStringLiteral("Государственное бюджетное учреждение здравоохранения Северная центральная "
                                            "районная больница");
    ASSERT_TRUE(cp1251::writeLines(fx.programFolder() + "ShortNames.txt", {longName + QStringLiteral("\tСЦРБ")}));
    TForm5 w;
    w.resize(420, 300);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTableWidget *grid = w.grid();
    const QRect shortName = grid->visualItemRect(grid->item(0, 1));
    EXPECT_TRUE(grid->viewport()->rect().contains(shortName)) << shortName.x() << "+" << shortName.width();
    EXPECT_GE(shortName.width(), grid->fontMetrics().horizontalAdvance(QString(12, QChar(u'Ш'))));
    EXPECT_EQ(grid->item(0, 0)->toolTip(), longName);
}

TEST_F(ShortNamesTest, EditorLoadsSavesAndRefreshes) {
    {
        // Without a file: the institutions by name, short names empty.
        TForm5 w;
        const QList<shortnames::Row> rows = w.rows();
        ASSERT_EQ(rows.size(), 12);
        EXPECT_EQ(rows[0].first, "Городская поликлиника №1");
        EXPECT_TRUE(rows[0].second.isEmpty());
    }
    QStringList lines;
    for (int i = 1; i <= 7; ++i) lines << QStringLiteral("Учреждение %1\tУ%1").arg(i);
    lines << "без табуляции";
    ASSERT_TRUE(cp1251::writeLines(fx.programFolder() + "ShortNames.txt", lines));
    TForm5 w;
    ASSERT_EQ(w.grid()->rowCount(), 8);
    EXPECT_EQ(w.grid()->item(6, 1)->text(), "У7");
    EXPECT_EQ(w.grid()->item(7, 0)->text(), "");
    EXPECT_EQ(w.grid()->item(7, 1)->text(), "без табуляции");
    w.grid()->item(0, 1)->setText(QString(32, QChar(u'Ш')));
    w.saveList();
    EXPECT_EQ(w.result(), int(QDialog::Accepted));
    const QStringList saved = fileLines();
    ASSERT_EQ(saved.size(), 8);
    EXPECT_EQ(saved[0], "Учреждение 1\t" + QString(30, QChar(u'Ш')));   // cut to its first 30 characters
    EXPECT_EQ(saved[7], "\tбез табуляции");

    // Refresh: the institutions with the short names the file gives them.
    ASSERT_TRUE(cp1251::writeLines(fx.programFolder() + "ShortNames.txt", {"Южная ЦРБ\tЮЦРБ"}));
    w.refreshInstitutions();
    EXPECT_EQ(w.grid()->rowCount(), 12);
    const QList<shortnames::Row> rows = w.rows();
    const auto it = std::find_if(rows.begin(), rows.end(), [](const auto &r) { return r.first == "Южная ЦРБ"; });
    ASSERT_NE(it, rows.end());
    EXPECT_EQ(it->second, "ЮЦРБ");
    EXPECT_EQ(fileLines(), QStringList{"Южная ЦРБ\tЮЦРБ"});   // nothing saved until OK
}

