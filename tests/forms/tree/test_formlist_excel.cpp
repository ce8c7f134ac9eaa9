// The forms-tree commands that make spreadsheets.
#include "engine/CatalogGate.h"
#include "core/ProgressWindow.h"
#include "core/SampleConfig.h"
#include "support/Files.h"
#include "support/TestWork.h"
#include "engine/SharedState.h"
#include "forms/output/ExcelOutput.h"
#include "forms/tree/FormList.h"
#include "forms/output/test_excel_fixture.h"
#include "forms/output/ShortNames.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "platform/office/ExcelWorkbook.h"
#include "support/CancellingProgress.h"
#include "support/WindowTestBase.h"

#include <QDir>
#include <QFileInfo>
#include "forms/shared/TransferFiles.h"

#include <QSet>
#include <functional>
#include <gtest/gtest.h>

namespace ids = sample::ids;
using office::ExcelSheet;
using office::ExcelWorkbook;

// ---- Commands of the forms tree -------------------------------------------------------------

TEST_F(ExcelOutputTest, FormsTreeCommands) {
    paths::setProgramFolder(fx.programFolder());
    testWork().mode = ReportMode::Svod;
    testWork().table = ValueTable::RepData;
    testWork().institution = ids::ReportNorth;
    testWork().includeList = "5,6,";
    TFormList w(testWork(), -1);
    ASSERT_TRUE(w.hasForms());
    QTreeWidgetItem *f30 = w.tree()->topLevelItem(0);
    w.tree()->setCurrentItem(f30);

    // The whole form of the current report.
    w.excelForm();
    ASSERT_EQ(dialogs.opened.size(), 1);
    EXPECT_EQ(dialogs.messages, QStringList{"Передача данных в Excel завершена!"});
    ExcelWorkbook one = ExcelWorkbook::open(dialogs.opened[0]);
    EXPECT_EQ(one.sheet(1).text(1, 1), "Свод по Северному району - (1000) - Штаты");

    // Per member: cancelled, then into a folder. Each workbook carries the
    // institution's own values, not a report's that shares its id.
    db::exec(db::connection(db::kData),
             "insert into repdata (hospital, data, year, \"table\", \"column\", \"row\") values (?, 10.1, ?, ?, 5, 5)",
             {ids::NorthHospital, shared().Year, ids::TableF30Staff});
    w.excelFormPerMember();
    EXPECT_EQ(dialogs.messages.size(), 1);
    dialogs.files.push_back(fx.root() + "per/Ф30 - x.xlsx");
    w.excelFormPerMember();
    ExcelWorkbook hospital = ExcelWorkbook::open(fx.root() + "per/Ф30 - Северная ЦРБ.xlsx");
    EXPECT_EQ(hospital.sheet(1).value(5, 5).toDouble(), 50);
    ExcelWorkbook polyclinic = ExcelWorkbook::open(fx.root() + "per/Ф30 - Северная поликлиника.xlsx");
    EXPECT_EQ(polyclinic.sheet(1).value(5, 5).toDouble(), 60);
    // Into the same folder again: the existing books are replaced only on "Да".
    const QString existing = fx.root() + "per/Ф30 - Северная ЦРБ.xlsx";
    const QByteArray before = fileBytes(existing);
    dialogs.files.push_back(fx.root() + "per/Ф30 - x.xlsx");
    dialogs.answers.push_back(false);
    dialogs.questions.clear();
    dialogs.messages.clear();
    w.excelFormPerMember();
    ASSERT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(dialogs.questions[0].startsWith("В папке уже есть книги:\nФ30 - Северная ЦРБ.xlsx\n"));
    EXPECT_EQ(dialogs.messages, QStringList{Cancelled::message()});
    EXPECT_EQ(fileBytes(existing), before);

    // One table per member: no short-name file and "Нет" ends it.
    w.tree()->setCurrentItem(f30->child(1));
    ASSERT_TRUE(w.excelTableCommand()->isEnabled());
    dialogs.messages.clear();
    dialogs.questions.clear();
    w.excelTablePerMember();
    EXPECT_EQ(dialogs.questions, QStringList{"Отсутствует файл ShortNames.txt. Создать?"});
    EXPECT_TRUE(dialogs.messages.isEmpty());
    // "Да", then the editor closed without saving: ended as after "Нет", without an error about the missing file.
    dialogs.answers.push_back(true);
    w.excelTablePerMember();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(fx.programFolder() + "ShortNames.txt"));
    ASSERT_EQ(dialogs.opened.size(), 1);
    // "Да" opens the editor, whose OK writes the file, and the output goes on.
    dialogs.answers.push_back(true);
    dialogs.modals.push_back([](QDialog *d) {
        static_cast<TForm5 *>(d)->saveList();
        return int(QDialog::Accepted);
    });
    w.excelTablePerMember();
    // The workbook was saved under the progress window, before "finished".
    EXPECT_EQ(Progress().statusText(), "Сохранение книги Excel");
    EXPECT_TRUE(QFileInfo::exists(fx.programFolder() + "ShortNames.txt"));
    ASSERT_EQ(dialogs.opened.size(), 2);
    ExcelWorkbook table = ExcelWorkbook::open(dialogs.opened[1]);
    EXPECT_EQ(sheetNames(table), (QStringList{"Северная поликлиника", "Северная ЦРБ", "Лист1"}));
}

TEST_F(ExcelOutputTest, PerMemberOutputNamesTheIdsThatNameNoMember) {
    paths::setProgramFolder(fx.programFolder());
    testWork().mode = ReportMode::Svod;
    testWork().table = ValueTable::RepData;
    testWork().institution = ids::ReportNorth;
    testWork().includeList = "5,99,2";   // 99: deleted; 2: a district
    TFormList w(testWork(), -1);
    ASSERT_TRUE(w.hasForms());
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));
    dialogs.files.push_back(fx.root() + "gone/Ф30 - x.xlsx");
    w.excelFormPerMember();
    EXPECT_EQ(dialogs.messages.last(), "Передача данных в Excel завершена!\r\n"
                                       "Не найдены и не учтены входящие учреждения (коды: 99, 2).");
    EXPECT_EQ(QDir(fx.root() + "gone").entryList({"*.xlsx"}), QStringList{"Ф30 - Северная ЦРБ.xlsx"});
}
