// The main window on the sample configuration.
#include "app/Commands.h"
#include "app/MainWindow.h"
#include "core/AdminMode.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "widgets/AbcComboBox.h"
#include "widgets/AbcMouseLabel.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        AdminMode::instance().setOn(false);
        mainCommands() = MainCommands{};
    }
    void TearDown() override {
        AdminMode::instance().setOn(false);
        mainCommands() = MainCommands{};
    }
    SampleFixture fx;
    FakeDialogs dlg;
};

TEST_F(MainWindow, ShowsTheOpenConfigurationYearAndCommands) {
    TMain w;
    ASSERT_TRUE(w.startedUp());
    EXPECT_EQ(w.windowTitle(),
              QStringLiteral("Система формирования и контроля статистических отчетных форм - Образец - 2024 г."));
    EXPECT_EQ(w.Label9->text(), QStringLiteral("Kelvana"));
    EXPECT_EQ(w.Label2->text(), QStringLiteral("2024"));
    EXPECT_EQ(w.DBList->currentText(), SampleFixture::kConfigName);
    EXPECT_EQ(w.SRList->count(), 2);
    EXPECT_EQ(w.SRList->itemText(0), QStringLiteral("Годовой"));
    EXPECT_EQ(w.SRList->currentIndex(), 0);
    EXPECT_TRUE(w.YearList->isHidden());
    EXPECT_EQ(w.YearList->currentText(), QStringLiteral("2024"));
    EXPECT_EQ(w.applicationTitle(), QStringLiteral("2024 - Образец - Годовой:"));
    EXPECT_EQ(w.LAdm2->text(), QStringLiteral("Ведение перечня типов учреждений и назначение им  отчетных форм"));
    EXPECT_EQ(w.abcMouseLabel13->text(),
              QStringLiteral("Сведения о сети и деятельности медицинский учреждений (Ф47)"));
    // Administrator-only commands are hidden; the update commands stay disabled;
    // a command is enabled exactly when its window is plugged in.
    EXPECT_TRUE(w.LAdm4_1->isHidden());
    EXPECT_TRUE(w.abcMouseLabel6->isHidden());
    EXPECT_FALSE(w.abcMouseLabel3->isEnabled());
    EXPECT_FALSE(w.abcMouseLabel4->isEnabled());
    EXPECT_EQ(w.Ladm1->isEnabled(), bool(mainCommands().Ladm1));
    EXPECT_EQ(w.abcMouseLabel11->isEnabled(), bool(mainCommands().abcMouseLabel11));
    EXPECT_FALSE(w.LLev2->isEnabled());
    EXPECT_TRUE(w.LLev1->isEnabled());
    EXPECT_TRUE(w.LAdm5->isEnabled());
}

TEST_F(MainWindow, WrongPasswordKeepsAdministratorCommandsHidden) {
    TMain w;
    w.show();
    dlg.modals.push_back([](QDialog *d) {
        if (auto *e = d->findChild<QLineEdit *>(QStringLiteral("PasswordEdit"))) e->setText(QStringLiteral("не тот"));
        return int(QDialog::Accepted);
    });
    QTest::keyClick(w.DBList, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(dlg.messages,
              (QStringList{QStringLiteral("Неверный пароль"),
                           QStringLiteral("Административный режим деактивирован (Ctrl+Shift+G)")}));
    EXPECT_TRUE(w.LAdm4_1->isHidden());
    EXPECT_TRUE(w.abcMouseLabel6->isHidden());

    // Switched on elsewhere, the commands appear; Ctrl+Shift+G switches off at once.
    AdminMode::instance().setOn(true);
    EXPECT_FALSE(w.LAdm4_1->isHidden());
    EXPECT_FALSE(w.abcMouseLabel6->isHidden());
    dlg.messages.clear();
    QTest::keyClick(&w, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(dlg.messages, QStringList{QStringLiteral("Административный режим деактивирован (Ctrl+Shift+G)")});
    EXPECT_TRUE(w.LAdm4_1->isHidden());
}

TEST_F(MainWindow, EscapeClosesTheWindow) {
    TMain w;
    w.show();
    ASSERT_TRUE(w.isVisible());
    QTest::keyClick(w.SRList, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindow, CommandsSetTheSharedModesAroundTheirWindows) {
    QString modeSeen, tableSeen;
    bool netSeen = false;
    auto record = [&](QWidget *) {
        modeSeen = shared().ReportMode;
        tableSeen = shared().DataTableName;
        netSeen = shared().NetMode;
    };
    installWindowCommands();   // the real windows first, then the recorders in their place
    mainCommands().abcMouseLabel13 = record;
    mainCommands().Lrek1 = record;
    mainCommands().LAdm3 = [](QWidget *) { shared().FormsList.clear(); };
    TMain w;
    EXPECT_TRUE(w.abcMouseLabel13->isEnabled());
    EXPECT_FALSE(w.abcMouseLabel3->isEnabled());   // the update check stays disabled

    w.abcMouseLabel13Click();
    EXPECT_EQ(modeSeen, QStringLiteral("Net"));
    EXPECT_EQ(tableSeen, QStringLiteral("RepData"));
    EXPECT_TRUE(netSeen);
    EXPECT_TRUE(shared().DataTableName.isEmpty());
    EXPECT_FALSE(shared().NetMode);

    w.Lrek1Click();
    EXPECT_EQ(modeSeen, QStringLiteral("Terrain"));
    EXPECT_EQ(shared().DataTableName, QStringLiteral("Repdata"));   // kept after return

    // The form catalogue reloads the caches on return.
    w.LAdm3Click();
    EXPECT_FALSE(shared().FormsList.isEmpty());
}

TEST_F(MainWindow, YearButtonsAndLevelListFollowTheConfiguration) {
    TMain w;
    dlg.answers = {false};
    w.SpeedButton1Click();
    EXPECT_EQ(w.Label2->text(), QStringLiteral("2024"));

    w.SRList->setCurrentIndex(1);
    EXPECT_EQ(db::fileOf(db::kData), fx.yearFolder() + QStringLiteral("data1.mdb"));
    EXPECT_TRUE(w.LLev2->isEnabled());
    EXPECT_EQ(w.applicationTitle(), QStringLiteral("2024 - Образец - 1 квартал:"));
    w.SRList->setCurrentIndex(0);
    EXPECT_EQ(db::fileOf(db::kData), fx.yearFolder() + QStringLiteral("data0.mdb"));
    EXPECT_FALSE(w.LLev2->isEnabled());

    dlg.answers = {true, true};
    w.SpeedButton2Click();
    EXPECT_EQ(w.Label2->text(), QStringLiteral("2023"));
    EXPECT_EQ(w.windowTitle(),
              QStringLiteral("Система формирования и контроля статистических отчетных форм - Образец - 2023 г."));
    EXPECT_EQ(w.SRList->currentIndex(), 0);
}

TEST(MainWindowGeometry, BackgroundFillsTheWindowBelowTheTitle) {
    EXPECT_EQ(mainwin::backgroundHeight(900, 49, 23), 818);
    EXPECT_EQ(mainwin::backgroundHeight(50, 49, 23), 0);
}

TEST(MainWindowGeometry, ShownWindowCoversTheAvailableScreenArea) {
    FakeDialogs dlg;
    TMain w(false);
    w.showOnScreen();
    QCoreApplication::processEvents();
    ASSERT_NE(w.screen(), nullptr);
    EXPECT_EQ(w.frameGeometry(), w.screen()->availableGeometry());
    w.close();
}

TEST(MainWindowStartUp, WithoutSettingsAndCancelledAttachTheWindowCloses) {
    QTemporaryDir dir;
    paths::setProgramFolder(dir.path());
    FakeDialogs dlg;
    {
        TMain w;
        EXPECT_FALSE(w.startedUp());
        EXPECT_EQ(shared().Year, 0);
        EXPECT_EQ(dlg.modalTitles.size(), 1);
        w.show();
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&w, &activate);
        QCoreApplication::processEvents();
        EXPECT_FALSE(w.isVisible());
    }
    paths::setProgramFolder(QString());
}
