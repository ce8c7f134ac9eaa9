// Every work window fits a screen of 1024 x 768 with its frame and a task bar: its smallest size leaves nothing
// off-screen, the size it opens with lies within the work area, and every control lies inside the window.
#include "platform/Codepage.h"
#include "app/SmallDialogs.h"
#include "core/AdminMode.h"
#include "controls/ContrForm.h"
#include "controls/ControlMatch.h"
#include "core/ListWindow.h"
#include "core/SampleConfig.h"
#include "engine/LinksDb.h"
#include "platform/Paths.h"
#include "forms/territory/AdmForm.h"
#include "forms/structure/FormCatalog.h"
#include "forms/tree/FormList.h"
#include "forms/territory/MedTypes.h"
#include "forms/output/ShortNames.h"
#include "forms/table/TableExcel.h"
#include "forms/table/TableWindow.h"
#include "reports/DbfExport.h"
#include "reports/GroupRecalc.h"
#include "reports/IndicatorWindows.h"
#include "reports/ReportList.h"
#include "reports/Summation.h"
#include "support/TableWindowSetup.h"
#include "support/WindowTestBase.h"
#include "widgets/WindowLayout.h"

#include <QScreen>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace {

// The work area of a 1024 x 768 screen less a 40-pixel task bar.
const QSize kWorkArea(1024, 728);

struct WindowCase { const char *name; std::function<std::unique_ptr<QWidget>()> make; };

} // namespace

using WindowSizesOnScreen = InputWindowTest;

// Runs the measuring in a child process whose screen is 1024 x 768, so that every window is sized as on such a screen.
TEST(WindowSizes, EveryWindowFitsA1024By768Screen) {
    QTemporaryDir dir;
    const QString config = dir.filePath("screen.json");
    ASSERT_TRUE(cp1251::writeFile(config, R"({"screens": [{"name": "s1024", "x": 0, "y": 0, "width": 1024, "height": 768,
                    "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})"));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KELVANA_SCREEN_CHILD", "1");
    env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=WindowSizesOnScreen.*", "--gtest_also_run_disabled_tests"});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString out = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}

TEST_F(WindowSizesOnScreen, DISABLED_Measure) {
    if (qEnvironmentVariableIsEmpty("KELVANA_SCREEN_CHILD")) GTEST_SKIP() << "runs as a child process only";
    ASSERT_EQ(QGuiApplication::primaryScreen()->geometry().size(), QSize(1024, 768));
    using namespace sample;
    // Administrator mode shows the most commands.
    AdminMode::instance().setOn(true);
    struct Off { ~Off() { AdminMode::instance().setOn(false); } } off;
    links::createLinksDatabase(paths::programFolder() + "Links.mdb");
    const WindowCase windows[] = {
        {"TContrls", [] { return std::make_unique<TContrls>(nullptr, testWork()); }},
        {"TControlMatchForm", [] { return std::make_unique<TControlMatchForm>(); }},
        {"TAdmForm", [] { return std::make_unique<TAdmForm>(TAdmForm::Mode::Input, testWork()); }},
        {"TFormL", [] { return std::make_unique<TFormL>(); }},
        {"TMTFs", [] { return std::make_unique<TMTFs>(); }},
        {"TMTList", [] { return std::make_unique<TMTList>(testWork()); }},
        {"TFormList", [] { return std::make_unique<TFormList>(testWork(), -1); }},
        {"TFormList Свод", [] {
             WorkContext svod = testWork();
             svod.mode = ReportMode::Svod;
             svod.table = ValueTable::RepData;
             return std::make_unique<TFormList>(svod, -1);
         }},
        {"TVTable", [] {
             return std::make_unique<TVTable>(aimTableWindow(ids::NorthHospital, ids::FormF30, "Ф30", "(1000)"),
                                              testWork());
         }},
        {"TRepList", [] { return std::make_unique<TRepList>(testWork()); }},
        {"TFMerge", [] { return std::make_unique<TFMerge>(); }},
        {"TMISetup", [] { return std::make_unique<TMISetup>(testWork()); }},
        {"TMIForms", [] { return std::make_unique<TMIForms>(0); }},
        {"TUnf", [] { return std::make_unique<TUnf>(); }},
        {"TForm1", [] { return std::make_unique<TForm1>(); }},
        {"TForm4", [] { return std::make_unique<TForm4>(); }},
        {"TForm6", [] { return std::make_unique<TForm6>(); }},
        {"TForm7", [] { return std::make_unique<TForm7>(); }},
        {"TSBY", [] { return std::make_unique<TSBY>(); }},
        {"TGBP", [] { return std::make_unique<TGBP>(QString()); }},
        {"TSelectConfig", [] { return std::make_unique<TSelectConfig>("Файл поврежден", QStringList{"Образец"}); }},
    };
    for (const WindowCase &c : windows) {
        SCOPED_TRACE(c.name);
        dialogs.messages.clear();
        std::unique_ptr<QWidget> w = c.make();
        ASSERT_TRUE(w);
        const QSize smallest = w->minimumSizeHint().expandedTo(w->minimumSize());
        EXPECT_LE(smallest.width() + winutil::kWindowFrame.width(), kWorkArea.width()) << smallest.width();
        EXPECT_LE(smallest.height() + winutil::kWindowFrame.height(), kWorkArea.height()) << smallest.height();
        // Opened on such a screen: the size it is given (a maximised window gets the work area), every control inside.
        const bool maximised = w->windowState() & Qt::WindowMaximized;
        if (maximised) {
            w->setWindowState(Qt::WindowNoState);
            w->resize(kWorkArea - winutil::kWindowFrame);
        } else {
            // What winutil::fitToScreen gives it on such a screen.
            w->resize(w->size().boundedTo(kWorkArea - winutil::kWindowFrame).expandedTo(smallest));
        }
        w->show();
        QApplication::processEvents();
        if (maximised) w->resize(kWorkArea - winutil::kWindowFrame);
        QApplication::processEvents();
        const QRect inside = w->rect();
        for (QWidget *child : w->findChildren<QWidget *>()) {
            if (!child->isVisibleTo(w.get()) || !child->window() || child->window() != w.get()) continue;
            if (!qobject_cast<QAbstractButton *>(child) && !qobject_cast<QLineEdit *>(child) &&
                !qobject_cast<QComboBox *>(child))
                continue;
            const QRect r(child->mapTo(w.get(), QPoint(0, 0)), child->size());
            EXPECT_TRUE(inside.contains(r)) << c.name << ": " << child->metaObject()->className() << " \""
                                            << child->property("text").toString().toStdString() << "\" at "
                                            << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
        }
        // Every menu of the menu bar shows in the bar, none behind "»".
        for (QMenuBar *bar : w->findChildren<QMenuBar *>()) {
            if (!bar->isVisibleTo(w.get())) continue;
            for (QAction *a : bar->actions()) {
                if (!a->isVisible() || a->isSeparator()) continue;
                const QRect g = bar->actionGeometry(a);
                EXPECT_TRUE(!g.isEmpty() && bar->rect().contains(g))
                    << c.name << ": menu \"" << a->text().toStdString() << "\" behind the extension";
            }
        }
        w->close();
    }
}
