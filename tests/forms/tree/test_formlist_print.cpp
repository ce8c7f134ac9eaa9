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
#include "support/SourceScan.h"
#include "support/TableWindowSetup.h"
#include "support/WindowTestBase.h"
#include "forms/table/TableExcel.h"
#include "forms/table/TableWindow.h"

#include <QDir>
#include <QRegularExpression>

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
    QString reportFile() const { return fx.yearFolder() + "Report/Ф30 Северная ЦРБ #5 2024.docx"; }
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

// ---- Output is said done only once its file is written -----------------------------------------

namespace {

// Every command that writes a document and says it is done, run as the window runs it. The documents go to the
// year's documents folder, the report copy to its Report folder.
struct OutputCommand {
    const char *name;
    QString done;                                    // the closing message
    std::function<void(PrintCommandsTest &)> run;
};

QList<OutputCommand> outputCommands() {
    const QString printed = "Печать формы завершена.";
    return {
        {"черновая", printed, [](PrintCommandsTest &t) { t.w->printRough(); }},
        {"отладочная", "Отладочная печать формы завершена.", [](PrintCommandsTest &t) { t.w->printDebug(); }},
        {"для отчета", printed,
         [](PrintCommandsTest &t) {
             t.dialogs.modals.push_back([](QDialog *) { return int(QDialog::Accepted); });
             t.w->printForReport();
         }},
        {"вся форма в Excel", "Передача данных в Excel завершена!", [](PrintCommandsTest &t) { t.w->excelForm(); }},
        {"таблица в новую книгу", "Вывод таблицы завершен.",
         [](PrintCommandsTest &t) {
             installTableExcelTableExtension();
             auto table = showTableWindow(aimTableWindow(ids::NorthHospital, ids::FormF30, "Ф30", "(1000)",
                                                         ids::TableF30Staff));
             table->commandAction(TVTable::Command::ExcelToNewBook)->trigger();
         }},
    };
}

QStringList documentsWritten(const QString &yearFolder) {
    QStringList out;
    for (const QString &folder : {QStringLiteral("documents"), QStringLiteral("Report")})
        for (const QFileInfo &f : QDir(yearFolder + folder).entryInfoList(QDir::Files)) out << f.fileName();
    return out;
}

} // namespace

TEST_F(PrintCommandsTest, OutputIsSaidDoneOnlyOnceItsFileIsWritten) {
    for (const OutputCommand &c : outputCommands()) {
        SCOPED_TRACE(c.name);
        dialogs.messages.clear();
        dialogs.opened.clear();
        QDir(fx.yearFolder() + "documents").removeRecursively();
        QDir(fx.yearFolder() + "Report").removeRecursively();
        // When the message is shown the document is there, and it is the one opened after it.
        QStringList atMessage;
        dialogs.onMessage = [&](const QString &text) {
            if (text.startsWith(c.done)) atMessage = documentsWritten(fx.yearFolder());
        };
        c.run(*this);
        dialogs.onMessage = {};
        ASSERT_EQ(dialogs.opened.size(), 1) << dialogs.messages.join('\n').toStdString();
        EXPECT_EQ(atMessage, QStringList{QFileInfo(dialogs.opened[0]).fileName()});

        // A folder that cannot be written (a file stands where it would be): the failure is told, and no
        // message says the output was done.
        QDir(fx.yearFolder() + "documents").removeRecursively();
        QDir(fx.yearFolder() + "Report").removeRecursively();
        for (const QString &blocked : {QStringLiteral("documents"), QStringLiteral("Report")}) {
            QFile f(fx.yearFolder() + blocked);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        dialogs.messages.clear();
        dialogs.opened.clear();
        c.run(*this);
        EXPECT_TRUE(dialogs.opened.isEmpty());
        EXPECT_FALSE(dialogs.sawMessage(c.done)) << dialogs.messages.join('\n').toStdString();
        EXPECT_FALSE(dialogs.messages.isEmpty());
        for (const QString &blocked : {QStringLiteral("documents"), QStringLiteral("Report")})
            QFile::remove(fx.yearFolder() + blocked);
    }
}

// A window that writes a document and then opens it says it is done between the two, never before the write:
// office::show() writes and opens at once, so no message may come before it in the same command.
TEST(OutputMessagesScan, NoSuccessMessageBeforeTheDocumentIsWritten) {
    QStringList offenders;
    const QRegularExpression functionStart(QStringLiteral("\\n\\}\\n"));
    const QMap<QString, QString> sources = productSources({"*.cpp"});
    for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
        const QString &text = it.value();
        for (qsizetype at = text.indexOf("office::show("); at >= 0; at = text.indexOf("office::show(", at + 1)) {
            const qsizetype start = text.lastIndexOf(functionStart, at);
            if (text.mid(start, at - start).contains("showMessage(")) offenders << it.key();
        }
    }
    EXPECT_TRUE(offenders.isEmpty()) << offenders.join('\n').toStdString();
}
