#pragma once
// TMain: the main window of the program.
// The main window: title, year row, configuration and level lists, and the
// hover commands grouped under their headings on a gradient background.
// Its creation runs the start-up of the open configuration and year.
#include "app/Commands.h"
#include "app/Configuration.h"

#include <QList>
#include <QMainWindow>
#include <QMargins>
#include <vector>
#include <functional>

class QFrame;
class QLayout;
class QGridLayout;
class QLabel;
class QScrollArea;
class QToolButton;
class TabcBackground;
class TabcLRComboBox;
class TabcMouseLabel;

namespace mainwin {
// Height of the background: window height less the title, the caption bar and 10.
int backgroundHeight(int windowHeight, int titleHeight, int captionHeight);
} // namespace mainwin

class TMain : public QMainWindow {
    Q_OBJECT
public:
    // With runStartUp false the window only lays itself out (tests drive the
    // configuration themselves and call refresh()).
    explicit TMain(bool runStartUp = true, QWidget *parent = nullptr);
    ~TMain() override;

    Configuration &configuration() { return m_config; }
    bool startedUp() const { return m_startedUp; }
    QString applicationTitle() const { return m_appTitle; }
    // Shows the open configuration, year and levels.
    void refresh();
    // Shows the window maximised; without a window manager that maximises
    // it, the window covers the screen's available area itself.
    void showOnScreen();
    // Scales the type of the window down (by steps of 5 %, to half size at
    // most) until its layout fits a client area of that size; returns the
    // scale taken. Run on every resize.
    double fitToSize(const QSize &client);

    // Lookup caches of the open year (see engine/Caches.h).
    static void GetForms();
    static void GetTables();
    static void GetStruct();
    static void GetTree();

    // Components other code and tests look at.
    QLabel *Label9 = nullptr;       // product title
    QLabel *Label1 = nullptr;       // "Отчетный год"
    QLabel *Label2 = nullptr;       // the year
    QToolButton *SpeedButton2 = nullptr;   // previous year
    QToolButton *SpeedButton1 = nullptr;   // next year
    QLabel *Label13 = nullptr;      // "База данных"
    TabcLRComboBox *DBList = nullptr;
    QLabel *Label10 = nullptr;      // "Уровень отчета"
    TabcLRComboBox *SRList = nullptr;
    TabcLRComboBox *YearList = nullptr;    // hidden
    TabcBackground *abcBackground1 = nullptr;

    // Headings.
    TabcMouseLabel *LAdm = nullptr, *LLev = nullptr, *LRek = nullptr, *abcMouseLabel2 = nullptr;
    // Commands.
    TabcMouseLabel *Ladm1 = nullptr, *LAdm2 = nullptr, *LAdm3 = nullptr, *LAdm4 = nullptr, *LAdm4_1 = nullptr,
                   *LAdm5 = nullptr;
    TabcMouseLabel *abcMouseLabel3 = nullptr, *abcMouseLabel4 = nullptr, *abcMouseLabel6 = nullptr;
    TabcMouseLabel *LLev1 = nullptr, *LLev2 = nullptr, *LLev3 = nullptr;
    TabcMouseLabel *abcMouseLabel11 = nullptr, *abcMouseLabel12 = nullptr, *abcMouseLabel13 = nullptr,
                   *abcMouseLabel1 = nullptr;
    TabcMouseLabel *Lrek1 = nullptr, *Lrek2 = nullptr, *Lrek3 = nullptr, *Lrek4 = nullptr;
    TabcMouseLabel *abcMouseLabel19 = nullptr;
    TabcMouseLabel *AboutLabel = nullptr;   // "О программе..."

    // Handlers.
    void Ladm1Click();
    void LAdm2Click();
    void LAdm3Click();
    void LAdm4Click();
    void LAdm4_1Click();
    void LAdm5Click();      // attach a database
    void abcMouseLabel6Click();
    void LLev1Click();      // create a level
    void LLev2Click();      // delete the current level
    void LLev3Click();
    void abcMouseLabel11Click();
    void abcMouseLabel12Click();
    void abcMouseLabel13Click();
    void abcMouseLabel1Click();
    void Lrek1Click();
    void Lrek2Click();
    void Lrek3Click();
    void Lrek4Click();
    void abcMouseLabel19Click();
    void SpeedButton1Click();   // next year
    void SpeedButton2Click();   // previous year
    void N260Click(int index);  // open the configuration chosen in DBList
    void N17Click(int index);   // switch to the level chosen in SRList
    void AboutClick();
    // Ctrl+Shift+G.
    void toggleAdministratorMode();
    void showAdminCommands();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    void buildUi();
    TabcMouseLabel *heading(const QString &caption);
    TabcMouseLabel *command(const QString &caption, bool large = false);
    void bindGroup(TabcMouseLabel *head, const QList<TabcMouseLabel *> &items);
    void guarded(const std::function<void()> &work);
    void changeAndRefresh(const std::function<void()> &change);
    void runWindow(const MainCommands::Slot &slot);
    void runInMode(const MainCommands::Slot &slot, ReportMode mode, ValueTable table, bool net);
    WorkContext &work();
    // The work the last mode command chose, handed to the windows the commands
    // open; forgotten when another configuration or year is opened.
    WorkContext m_work;   // read through work()
    QString m_workOf;   // configuration folder and year m_work belongs to
    void updateCommandAvailability();
    void layoutBackground();

    // Layouts whose margins and spacing follow the type scale.
    struct ScaledLayout {
        QLayout *layout;
        QMargins margins;
        int hspacing, vspacing;
    };
    std::vector<ScaledLayout> m_scaledLayouts;
    void arrangeGroups(bool twoColumns);
    QList<QFrame *> m_frames;   // the command groups, top to bottom
public:
    QScrollArea *BackgroundArea = nullptr;   // holds abcBackground1
private:
    QGridLayout *m_groups = nullptr;
    bool m_twoColumns = false;
    Configuration m_config;
    bool m_startedUp = false;
    bool m_refreshing = false;
    bool m_fitPending = false;
    bool m_fittedWithAdminCommands = false;   // the administrator's commands shown at the last fitting
    QString m_appTitle;
};
