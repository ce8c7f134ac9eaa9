// The main window on the sample configuration.
#include "app/Commands.h"
#include "app/MainWindow.h"
#include "core/AdminMode.h"
#include "core/ListWindow.h"
#include "core/SampleConfig.h"
#include "core/TreeMarking.h"
#include "engine/Caches.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "widgets/AbcBackground.h"
#include "widgets/AbcComboBox.h"
#include "widgets/AbcMouseLabel.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
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
    EXPECT_EQ(w.yearLabel()->text(), QStringLiteral("2024"));
    EXPECT_EQ(w.databaseList()->currentText(), SampleFixture::kConfigName);
    EXPECT_EQ(w.levelList()->count(), 2);
    EXPECT_EQ(w.applicationTitle(), QStringLiteral("2024 - Образец - Годовой:"));
    delete &Form1();   // the list window made now carries the application title
    EXPECT_EQ(Form1().windowTitle(), w.applicationTitle());
    // Administrator-only commands are hidden; the update commands stay disabled;
    // a command is enabled exactly when its window is plugged in.
    EXPECT_TRUE(w.controlMatchCommand()->isHidden());
    EXPECT_TRUE(w.updateGeneratorCommand()->isHidden());
    EXPECT_FALSE(w.checkUpdatesCommand()->isEnabled());
    EXPECT_FALSE(w.manageUpdatesCommand()->isEnabled());
    EXPECT_EQ(w.territoryCommand()->isEnabled(), bool(mainCommands().territory));
    EXPECT_FALSE(w.deleteLevelCommand()->isEnabled());
}

// Administrator commands follow the mode; Ctrl+Shift+G switches it off at once.
TEST_F(MainWindow, AdministratorCommandsFollowTheMode) {
    TMain w;
    w.show();
    AdminMode::instance().setOn(true);
    EXPECT_FALSE(w.controlMatchCommand()->isHidden());
    EXPECT_FALSE(w.updateGeneratorCommand()->isHidden());
    dlg.messages.clear();
    QTest::keyClick(&w, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(dlg.messages, QStringList{QStringLiteral("Административный режим деактивирован (Ctrl+Shift+G)")});
    EXPECT_TRUE(w.controlMatchCommand()->isHidden());
}

// A configuration whose folder has gone, chosen in the list: its message, and the open one stays open and shown.
TEST_F(MainWindow, ChosenConfigurationWithoutItsFolderLeavesTheOpenOne) {
    IniFile(fx.settingsFile()).writeString(QStringLiteral("Конфигурации"), QStringLiteral("Пропавшая"),
                                           fx.root() + QStringLiteral("пропавшая"));
    TMain w;
    ASSERT_TRUE(w.startedUp());
    const QString caption = w.windowTitle();
    ASSERT_EQ(w.databaseList()->count(), 2);
    w.databaseList()->setCurrentIndex(1);
    w.openChosenDatabase(1);
    ASSERT_EQ(dlg.messages.size(), 1);
    EXPECT_TRUE(dlg.messages[0].contains(QStringLiteral("Папка конфигурации \"Пропавшая\" не найдена")))
        << dlg.messages[0].toStdString();
    EXPECT_TRUE(dlg.questions.isEmpty());
    EXPECT_EQ(w.windowTitle(), caption);
    EXPECT_EQ(w.databaseList()->currentText(), SampleFixture::kConfigName);
    EXPECT_EQ(db::fileOf(db::kMain), fx.yearFolder() + QStringLiteral("orvmain.mdb"));
}

TEST_F(MainWindow, CommandsPassTheirModesToTheirWindows) {
    ReportMode modeSeen = ReportMode::None;
    ValueTable tableSeen = ValueTable::None;
    bool netSeen = false;
    auto record = [&](QWidget *, const WorkContext &work) {
        modeSeen = work.mode;
        tableSeen = work.table;
        netSeen = work.net;
    };
    installWindowCommands();   // the real windows first, then the recorders in their place
    mainCommands().form47 = record;
    mainCommands().indicatorsByTerritory = record;
    mainCommands().indicatorMethod = record;
    mainCommands().reportForms = [](QWidget *, const WorkContext &) { shared().Caches.clear(); };
    TMain w;
    EXPECT_TRUE(w.form47Command()->isEnabled());

    w.openForm47();
    EXPECT_EQ(modeSeen, ReportMode::Net);
    EXPECT_EQ(tableSeen, ValueTable::RepData);
    EXPECT_TRUE(netSeen);
    w.editIndicatorMethod();   // the network command's table and network mode end with its window
    EXPECT_EQ(modeSeen, ReportMode::Net);
    EXPECT_EQ(tableSeen, ValueTable::None);
    EXPECT_FALSE(netSeen);

    w.indicatorsByTerritory();
    EXPECT_EQ(modeSeen, ReportMode::Terrain);
    w.editIndicatorMethod();
    EXPECT_EQ(tableSeen, ValueTable::RepData);   // kept after return

    // The form catalogue reloads the caches on return.
    w.openReportForms();
    EXPECT_FALSE(shared().Caches.forms.isEmpty());
}

TEST_F(MainWindow, LevelListSwitchesTheValuesFile) {
    TMain w;
    w.levelList()->setCurrentIndex(1);
    EXPECT_EQ(db::fileOf(db::kData), fx.yearFolder() + QStringLiteral("data1.mdb"));
    EXPECT_TRUE(w.deleteLevelCommand()->isEnabled());
}

TEST(MainWindowStartUp, WithoutSettingsAndCancelledAttachTheWindowCloses) {
    QTemporaryDir dir;
    paths::setProgramFolder(dir.path());
    FakeDialogs dlg;
    {
        TMain w;
        EXPECT_FALSE(w.startedUp());
        w.show();
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&w, &activate);
        QCoreApplication::processEvents();
        EXPECT_FALSE(w.isVisible());
    }
    paths::setProgramFolder(QString());
}

// The window after the real start-up, in the client area that a window manager's frame leaves on common screens at
// common scalings: every command and control lies inside it or, where even the smallest type does not fit, in the
// scrolling command area; none overlaps another and no text is cut. Logical sizes: the screen over the scaling, less a
// 40-pixel task bar and the frame (a 30-pixel title bar, 8 pixels of borders).
TEST(MainWindowGeometry, FitsCommonScreensWithNothingOverlapping) {
    SampleFixture fx;
    FakeDialogs dlg;
    struct Case { int width, height; double scale; bool scrolls; };
    const Case cases[] = {{1024, 768, 1.0, false},  {1024, 768, 1.25, false}, {1024, 768, 2.0, true},
                          {1366, 768, 1.25, false}, {1920, 1080, 1.5, false}, {1600, 900, 2.0, false},
                          {1280, 1024, 2.0, false}, {1920, 1080, 1.0, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1x%2 at %3").arg(c.width).arg(c.height).arg(c.scale).toStdString());
        const QSize client(qFloor(c.width / c.scale) - 8, qFloor((c.height - 40) / c.scale) - 30 - 8);
        TMain w;   // the real start-up
        ASSERT_TRUE(w.startedUp());
        w.setWindowState(Qt::WindowNoState);
        w.resize(client);
        w.show();
        // The window fits itself once more after the resizing is over, and lays out the type it chose.
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        // Administrator mode switched on in the shown window, as Ctrl+Shift+G does: every command shown, and the
        // window fits them at once.
        AdminMode::instance().setOn(true);
        ASSERT_TRUE(w.controlMatchCommand()->isVisible());
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        EXPECT_EQ(w.size(), client);
        const bool scrolls = w.backgroundArea()->verticalScrollBar()->maximum() > 0 ||
                             w.backgroundArea()->horizontalScrollBar()->maximum() > 0;
        EXPECT_EQ(scrolls, c.scrolls);
        // The command area ends inside the window.
        const QRect area(w.backgroundArea()->mapTo(&w, QPoint(0, 0)), w.backgroundArea()->size());
        EXPECT_TRUE(w.rect().contains(area));

        QList<QWidget *> parts = w.yearRow();
        for (TabcMouseLabel *l : w.findChildren<TabcMouseLabel *>()) parts.append(l);
        QList<QRect> placed;
        for (QWidget *p : parts) {
            ASSERT_TRUE(p->isVisible()) << p->objectName().toStdString();
            // Inside the window, or reachable by scrolling the command area.
            const QRect r = scrolls ? QRect(p->mapTo(w.background(), QPoint(0, 0)), p->size())
                                    : QRect(p->mapTo(&w, QPoint(0, 0)), p->size());
            EXPECT_TRUE((scrolls ? w.background()->rect() : w.rect()).contains(r)) << p->objectName().toStdString();
            if (auto *label = qobject_cast<QLabel *>(p)) {
                EXPECT_GE(r.width(), label->fontMetrics().horizontalAdvance(label->text()))
                    << p->objectName().toStdString();
                EXPECT_GE(r.height(), label->fontMetrics().height()) << p->objectName().toStdString();
            }
            for (int i = 0; i < placed.size(); ++i)
                EXPECT_FALSE(placed[i].intersects(r))
                    << p->objectName().toStdString() << " on " << parts[i]->objectName().toStdString();
            placed.append(r);
        }
        // The two lists keep their texts whole.
        for (TabcLRComboBox *list : {w.databaseList(), w.levelList()})
            EXPECT_GE(list->width(), list->fontMetrics().horizontalAdvance(list->currentText()))
                << list->objectName().toStdString();
        // Switched off again: the type grows back, "Завершение работы" stays inside.
        AdminMode::instance().setOn(false);
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        EXPECT_EQ(w.backgroundArea()->verticalScrollBar()->maximum() > 0, c.scrolls);
        if (!c.scrolls)
            EXPECT_TRUE(w.rect().contains(QRect(w.exitCommand()->mapTo(&w, QPoint(0, 0)), w.exitCommand()->size())));
        w.close();
    }
}

// Without a mouse: Tab walks the commands in order, Enter runs the one that has the focus.
TEST_F(MainWindow, CommandsAreReachedWithTabAndRunWithEnter) {
    TMain w;   // plugs the real windows in: replaced by counting ones
    int runs = 0;
    mainCommands() = MainCommands{};
    mainCommands().institutionTypes = [](QWidget *, const WorkContext &) {};
    mainCommands().reportForms = [&](QWidget *, const WorkContext &) { ++runs; };
    w.refresh();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.institutionTypesCommand()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), w.reportFormsCommand());
    EXPECT_TRUE(w.reportFormsCommand()->isOver());   // drawn as under the mouse
    QTest::keyClick(w.reportFormsCommand(), Qt::Key_Return);
    EXPECT_EQ(runs, 1);
    // Commands that cannot run now are passed over.
    QTest::keyClick(w.reportFormsCommand(), Qt::Key_Tab);
    EXPECT_FALSE(w.reportFormsCommand()->isOver());
    EXPECT_EQ(QApplication::focusWidget(), w.attachDatabaseCommand());
    // The configuration and level lists are on the way.
    w.nextYearButton()->setFocus();
    QTest::keyClick(w.nextYearButton(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.databaseList());
    QTest::keyClick(w.databaseList(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.levelList());
    w.close();
}

namespace {

// Every field of the caches, one line per record.
QStringList cacheLines() {
    const YearCaches &c = shared().Caches;
    QStringList out;
    for (const CachedForm &f : c.forms) out << QStringLiteral("form %1 %2 %3 %4").arg(f.id).arg(f.name, f.decipher).arg(f.net);
    for (const CachedTable &t : c.tables) {
        const TableShape &g = t.shape;
        out << QStringLiteral("table %1 %2 %3 %4x%5 %6x%7 %8 %9").arg(t.formId).arg(t.caption()).arg(g.ident)
                   .arg(g.colcount).arg(g.rowcount).arg(g.fixcols).arg(g.fixrows).arg(g.scan).arg(g.floatValues);
    }
    for (const StructNode &u : c.structure) out << QStringLiteral("unit %1 %2 %3 %4").arg(u.id).arg(u.parent).arg(u.unit).arg(u.treeIndex);
    for (const TreeNode &t : c.tree) out << QStringLiteral("set %1 %2 %3").arg(t.ident).arg(t.depend).arg(t.part);
    return out;
}

// What a form window, a control run and the territory tree leave behind.
void holdWorkOfTheOpenYear() {
    SharedState &s = shared();
    s.SubReportId = 1;
    QTreeWidget tree;
    FillAdminTree(&tree, 0);   // tree positions in the structure cache
    TableShape wider = s.Caches.tables.value(0).shape;
    wider.colcount = 99;
    ASSERT_TRUE(RefreshCachedShape(wider));
}

// Nothing of the year before: the work state is empty and the caches are what a fresh read of the open year gives.
void expectOnlyTheOpenYear() {
    const SharedState &s = shared();
    EXPECT_EQ(s.SubReportId, 0);
    const QStringList held = cacheLines();
    caches::reloadAll();
    EXPECT_EQ(held, cacheLines());
}

// Changes the definitions of a year so that its caches differ from the others'.
void redefine(const QString &mainFile, const QString &formName) {
    db::ScopedConnection c(mainFile, db::OpenMode::ReadWrite);
    db::exec(c.db(), QStringLiteral("update forms set formname=? where id=1"), {formName});
    db::exec(c.db(), QStringLiteral("delete from tables where ident=4"));
    db::exec(c.db(), QStringLiteral("update tables set colcount=colcount+1"));
    db::exec(c.db(), QStringLiteral("update administration set unit=unit||? where id=2"), {formName});
    db::exec(c.db(), QStringLiteral("insert into tree (part, depend) values (?, 0)"), {formName});
}

} // namespace

TEST(MainWindowSwitch, YearAndConfigurationChangesLeaveNothingOfTheOldYear) {
    SampleFixture fx(true);
    FakeDialogs dlg;
    mainCommands() = MainCommands{};
    const QString other = fx.root() + QStringLiteral("other/");
    sample::createConfiguration(other, fx.year() - 1);
    sample::registerConfiguration(fx.settingsFile(), QStringLiteral("Другая"), other);
    redefine(fx.configFolder() + QStringLiteral("%1/orvmain.mdb").arg(fx.year() - 1), QStringLiteral("Ф30 прошлого года"));
    redefine(other + QStringLiteral("%1/orvmain.mdb").arg(fx.year() - 1), QStringLiteral("Ф30 другой"));

    TMain w;
    ASSERT_TRUE(w.startedUp());
    holdWorkOfTheOpenYear();
    w.showPreviousYear();   // an existing year opens without a question
    ASSERT_EQ(shared().Year, fx.year() - 1);
    EXPECT_TRUE(dlg.questions.isEmpty());
    EXPECT_EQ(db::fileOf(db::kData), fx.configFolder() + QStringLiteral("%1/data0.mdb").arg(fx.year() - 1));
    EXPECT_EQ(w.yearList()->count(), 2);
    EXPECT_EQ(shared().Caches.forms.value(0).name, QStringLiteral("Ф30 ПРОШЛОГО ГОДА"));
    expectOnlyTheOpenYear();

    holdWorkOfTheOpenYear();
    w.openChosenDatabase(1);
    ASSERT_EQ(shared().ConfigName, QStringLiteral("Другая"));
    EXPECT_EQ(shared().Caches.forms.value(0).name, QStringLiteral("Ф30 ДРУГОЙ"));
    expectOnlyTheOpenYear();
    EXPECT_TRUE(dlg.messages.isEmpty());
}
