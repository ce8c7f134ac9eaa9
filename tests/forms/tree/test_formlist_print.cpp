// The forms-tree commands that print.
#include "engine/Checksums.h"
#include "support/TestWork.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "forms/output/WordOutput.h"
#include "forms/tree/FormList.h"
#include "forms/output/test_word_fixture.h"
#include "platform/office/Convert.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/office/WordDocument.h"
#include "support/WindowTestBase.h"

#include <QDateTime>
#include <QFileInfo>
#include "forms/shared/TransferFiles.h"
#include <gtest/gtest.h>

namespace ids = sample::ids;

// ---- Commands of the forms tree -------------------------------------------------------

namespace {
struct PrintCommandsTest : WordOutputTest {
    std::unique_ptr<TFormList> w;
    void SetUp() override {
        WordOutputTest::SetUp();
        testWork().institution = ids::NorthHospital;
        w = std::make_unique<TFormList>(testWork());
        ASSERT_TRUE(w->Start(ids::TypeHospital));
        w->tree()->setCurrentItem(w->tree()->topLevelItem(0));
        ASSERT_EQ(w->selectedFormName(), "Ф30");
    }
    void TearDown() override {
        w.reset();
        WordOutputTest::TearDown();
    }
    QString reportFile() const { return fx.yearFolder() + "Report/Ф30 Северная ЦРБ 2024.docx"; }
};
} // namespace

TEST_F(PrintCommandsTest, RoughPrintAndProtocolOpenTheirDocuments) {
    w->printRough();
    ASSERT_EQ(dialogs.opened.size(), 1);
    EXPECT_TRUE(dialogs.sawMessage("Печать формы завершена."));
    EXPECT_EQ(office::WordDocument::open(dialogs.opened[0]).table(1).cellText(4, 7), "23");

    w->printProtocol();
    ASSERT_EQ(dialogs.opened.size(), 2);
    EXPECT_EQ(office::WordDocument::open(dialogs.opened[1]).paragraphs().value(0), "Протокол печати Ф30");

    // A missing template ends the rough print with a message.
    QFile::remove(fx.yearFolder() + "forms/Ф30.docx");
    dialogs.messages.clear();
    w->printRough();
    EXPECT_EQ(dialogs.opened.size(), 2);
    EXPECT_EQ(dialogs.messages.size(), 1);
}

TEST_F(PrintCommandsTest, ReportCopyIsWrittenOnceAfterTheWarning) {
    // "Нет" in the warning: no file, no folder.
    w->printForReport();
    EXPECT_EQ(dialogs.modalTitles.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(fx.yearFolder() + "Report"));
    EXPECT_TRUE(dialogs.opened.isEmpty());

    dialogs.modals.push_back([](QDialog *) { return int(QDialog::Accepted); });
    w->printForReport();
    ASSERT_TRUE(QFileInfo::exists(reportFile()));
    EXPECT_EQ(dialogs.opened, QStringList{reportFile()});
    const QDateTime written = QFileInfo(reportFile()).lastModified();
    const qint64 size = QFileInfo(reportFile()).size();

    // Again: only reopened, and the warning after a change of a value.
    dialogs.messages.clear();
    w->printForReport();
    EXPECT_EQ(dialogs.modalTitles.size(), 2);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    setValue(ids::NorthHospital, ids::TableF30Visits, 5, 4, 1);
    w->printForReport();
    EXPECT_EQ(dialogs.messages, QStringList{"Внимание! После печати формы в нее были внесены изменения!"});
    EXPECT_EQ(QFileInfo(reportFile()).lastModified(), written);
    EXPECT_EQ(QFileInfo(reportFile()).size(), size);
    EXPECT_EQ(dialogs.opened.size(), 3);
}

TEST_F(PrintCommandsTest, DebugPrintNeedsASelectedForm) {
    w->printDebug();
    ASSERT_EQ(dialogs.opened.size(), 1);
    EXPECT_TRUE(dialogs.sawMessage("Отладочная печать формы завершена."));
    w->tree()->setCurrentItem(nullptr);
    dialogs.messages.clear();
    w->printDebug();
    EXPECT_EQ(dialogs.messages, QStringList{"Ошибка: не выбрана форма"});
    w->printRough();   // no node: nothing at all
    EXPECT_EQ(dialogs.opened.size(), 1);
}
