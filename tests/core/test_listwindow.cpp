// List and print window, progress window and the warning window.
#include "core/ListWindow.h"
#include "core/ProgressWindow.h"
#include "core/WarningWindow.h"
#include "tests/support/FakeDialogs.h"

#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <QDialog>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(ListWindow, ShowTextListFillsTheSharedWindow) {
    TForm1 &w = Form1();
    ShowTextList(QStringList{QStringLiteral("10 = 12\tстр. 1\tИтог"), QStringLiteral("3 > 4")},
                 QStringLiteral("Цифры\tТек.\tКонтроль"));
    ASSERT_EQ(w.list()->columnCount(), 3);
    EXPECT_EQ(w.list()->headerItem()->text(2), QStringLiteral("Контроль"));
    ASSERT_EQ(w.list()->topLevelItemCount(), 2);
    EXPECT_EQ(w.list()->topLevelItem(0)->text(1), QStringLiteral("стр. 1"));
    EXPECT_EQ(w.list()->topLevelItem(1)->text(0), QStringLiteral("3 > 4"));

    w.setWindowTitle(QStringLiteral("Окно - ошибки контроля"));
    w.setHeading(QStringLiteral("Ф12"));
    ListContents c = w.contents();
    EXPECT_EQ(c.caption, QStringLiteral("Окно - ошибки контроля"));
    EXPECT_EQ(c.columns.size(), 3);
    ASSERT_EQ(c.rows.size(), 2);
    EXPECT_EQ(c.rows[1], (QStringList{QStringLiteral("3 > 4"), QString(), QString()}));

    // Filling again replaces items and columns; a StringList fills it too.
    StringList errors;
    errors.add(QStringLiteral("a\tb"), 7);
    ShowTextList(errors, QString());
    c = w.contents();
    EXPECT_TRUE(c.columns.isEmpty());
    ASSERT_EQ(c.rows.size(), 1);
    EXPECT_EQ(c.rows[0], QStringList{QStringLiteral("a")});
}

TEST(ProgressWindow, PositionStaysWithinTheGauge) {
    TProgress &p = Progress();
    p.SetMax(10);
    p.SetPosition(25);
    EXPECT_EQ(p.position(), 10);
    // An empty run: nothing done, and no busy animation either.
    p.SetMax(0);
    p.SetPosition(0);
    EXPECT_EQ(p.position(), 0);
    EXPECT_GT(p.gauge()->maximum(), p.gauge()->minimum());
}

// During a run started from a modal window (a file import from the matching window, say) the progress window is shown
// above that window, not under it, and is not deleted with it.
TEST(ProgressWindow, ShownAboveTheModalWindowThatStartedTheRun) {
    auto *modal = new QDialog;
    modal->setWindowTitle(QStringLiteral("Сопоставление"));
    modal->open();   // modal without a loop of its own
    ASSERT_EQ(QApplication::activeModalWidget(), modal);
    TProgress &p = Progress();
    p.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(p.parentWidget(), modal);
    ASSERT_NE(p.windowHandle(), nullptr);
    EXPECT_EQ(p.windowHandle()->transientParent(), modal->windowHandle());
    EXPECT_TRUE(p.isWindow());
    p.hide();
    EXPECT_EQ(p.parentWidget(), nullptr);
    delete modal;
    EXPECT_TRUE(ProgressExists());
}

TEST(ProgressWindow, OtmenaAndEscStopTheRunAndTheNextRunStartsAfresh) {
    {
        ProgressRun run(QStringLiteral("Суммирование"), 5);
        TProgress &p = run.window();
        EXPECT_TRUE(p.isVisible());
        EXPECT_EQ(p.statusText(), QStringLiteral("Суммирование"));
        EXPECT_FALSE(p.cancelled());
        p.SetPosition(3);
        p.SetDetailText(QStringLiteral("Ф1 - (1000)"));
        // Esc stops the run instead of hiding the window while the run goes on.
        QTest::keyClick(&p, Qt::Key_Escape);
        EXPECT_TRUE(p.isVisible());
        EXPECT_THROW(p.checkCancelled(), Cancelled);
    }
    EXPECT_FALSE(Progress().isVisible());
    ProgressRun next(QStringLiteral("Пересчет отчета"), 7);
    EXPECT_FALSE(next.window().cancelled());
    EXPECT_EQ(next.window().statusText(), QStringLiteral("Пересчет отчета"));
    EXPECT_EQ(next.window().position(), 0);
    EXPECT_EQ(next.window().max(), 7);
    EXPECT_TRUE(next.window().detailLabel()->text().isEmpty());
    next.window().cancelButton()->click();
    EXPECT_TRUE(next.window().cancelled());
}

// A shared window deleted elsewhere (closed with delete-on-close, say) is
// made anew on its next use instead of leaving a dangling reference.
TEST(SharedWindows, MadeAnewAfterBeingDeleted) {
    delete &Progress();
    EXPECT_FALSE(ProgressExists());
    TProgress &again = Progress();
    EXPECT_TRUE(ProgressExists());
    EXPECT_EQ(again.position(), 0);
    delete &Form3();
    EXPECT_FALSE(Form3().isVisible());
}

TEST(WarningWindow, ButtonsGiveTheResult) {
    FakeDialogs fake;
    for (const auto &[button, result] : {std::pair{"YesButton", QDialog::Accepted}, {"NoButton", QDialog::Rejected}}) {
        fake.modals.push_back([button](QDialog *d) {
            d->findChild<QPushButton *>(QLatin1String(button))->click();
            return d->result();
        });
        EXPECT_EQ(execModal(&Form3()), result) << button;
    }
}

} // namespace

#include "platform/Codepage.h"
#include <QTemporaryDir>

TEST(ListWindow, SaveWritesTheListAsTextAndSaysWhenItCannot) {
    FakeDialogs dialogs;
    QTemporaryDir dir;
    TForm1 &w = Form1();
    w.setWindowTitle(QStringLiteral("Импорт"));
    w.setHeading(QStringLiteral("Файл книги"));
    ShowTextList(QStringList{QStringLiteral("строка не прочитана\t7\t30000,1000,1,4=x")},
                 QStringLiteral("Причина\tНомер строки\tСтрока книги"));
    const QString path = dir.filePath(QStringLiteral("список.txt"));
    dialogs.files.push_back(path);
    w.saveCommand()->trigger();
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(path, lines));
    EXPECT_TRUE(lines.contains(QStringLiteral("строка не прочитана\t7\t30000,1000,1,4=x")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Импорт")));
    EXPECT_TRUE(dialogs.messages.isEmpty());

    dialogs.files.push_back(dir.filePath(QStringLiteral("нет/список.txt")));
    w.saveCommand()->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("Не удалось сохранить список")));
}
