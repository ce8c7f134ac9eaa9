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
#include <memory>
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

class TMain;
// The start of the program after the application object: the empty values
// template beside the program where it is missing, then the main window,
// whose creation runs the start-up. Null when the start-up ended without a
// year (its first choice cancelled): the program then ends.
std::unique_ptr<TMain> startProgram();

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

    // What tests reach of the widgets.
    QLabel *yearLabel() const { return m_ui.year; }
    QToolButton *previousYearButton() const { return m_ui.previousYear; }
    QToolButton *nextYearButton() const { return m_ui.nextYear; }
    TabcLRComboBox *databaseList() const { return m_ui.databases; }   // "База данных"
    TabcLRComboBox *levelList() const { return m_ui.levels; }         // "Уровень отчета"
    TabcLRComboBox *yearList() const { return m_ui.years; }           // hidden
    // The year row: captions, year buttons and lists, left to right.
    QList<QWidget *> yearRow() const;
    TabcBackground *background() const { return m_ui.background; }
    QScrollArea *backgroundArea() const { return m_ui.backgroundArea; }
    // The commands, by the caption the user sees.
    TabcMouseLabel *territoryCommand() const { return m_ui.territory; }   // "Формирование административной структуры территории"
    TabcMouseLabel *institutionTypesCommand() const { return m_ui.institutionTypes; }
    TabcMouseLabel *reportFormsCommand() const { return m_ui.reportForms; }       // "Отчетные формы"
    TabcMouseLabel *controlMatchCommand() const { return m_ui.controlMatch; }     // "Сопоставление контролей"
    TabcMouseLabel *attachDatabaseCommand() const { return m_ui.attachDatabase; } // "Присоединение базы данных"
    TabcMouseLabel *deleteLevelCommand() const { return m_ui.deleteLevel; }       // "Удалить текущий подотчет"
    TabcMouseLabel *inputCommand() const { return m_ui.input; }     // "Заполнение и контроль отчетных форм"
    TabcMouseLabel *form47Command() const { return m_ui.form47; }   // "Сведения о сети и деятельности ... (Ф47)"
    TabcMouseLabel *checkUpdatesCommand() const { return m_ui.checkUpdates; }     // "Проверить обновления"
    TabcMouseLabel *manageUpdatesCommand() const { return m_ui.manageUpdates; }   // "Управление обновлениями"
    TabcMouseLabel *updateGeneratorCommand() const { return m_ui.updateGenerator; }   // "Генератор пакетов обновления"
    TabcMouseLabel *exitCommand() const { return m_ui.exit; }       // "Завершение работы"

    // The commands, by the caption the user sees.
    void editTerritory();             // "Формирование административной структуры территории"
    void editInstitutionTypes();      // "Ведение перечня типов учреждений и назначение им  отчетных форм"
    void openReportForms();           // "Отчетные формы"
    void editControls();              // "Контроли"
    void matchControls();             // "Сопоставление контролей"
    void attachDatabase();            // "Присоединение базы данных"
    void generateUpdatePackages();    // "Генератор пакетов обновления"
    void createLevel();               // "Создать подотчет"
    void deleteLevel();               // "Удалить текущий подотчет"
    void sumLevels();                 // "Суммирование подотчетов"
    void enterForms();                // "Заполнение и контроль отчетных форм"
    void openSummaryReports();        // "Формирование и контроль сводных отчетов"
    void openForm47();                // "Сведения о сети и деятельности медицинский учреждений (Ф47)"
    void exportForMinistry();         // "Выгрузка в формате МЗ РФ"
    void indicatorsByTerritory();     // "Показатели" - "В разрезе входящих сводов ( районов и т.п.)"
    void indicatorsByTypes();         // "Показатели" - "В разрезе типов учреждений"
    void indicatorsByInstitution();   // "Показатели" - "В разрезе ЛПУ"
    void editIndicatorMethod();       // "Показатели" - "Методика расчета показателей"
    void exitProgram();               // "Завершение работы"
    void showNextYear();              // the year's right arrow
    void showPreviousYear();          // the year's left arrow
    void openChosenDatabase(int index);    // a configuration chosen in "База данных"
    void switchToChosenLevel(int index);   // a level chosen in "Уровень отчета"
    void showAbout();                 // "О программе..."
    // Ctrl+Shift+G.
    void toggleAdministratorMode();
    void showAdminCommands();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    void buildUi();
    void addTitleAndBackground(QWidget *central);
    void addCommands();
    void layOutCommandGroups(const QList<QWidget *> &yearParts);
    void connectCommands();
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
    QGridLayout *m_groups = nullptr;
    bool m_twoColumns = false;
    Configuration m_config;
    bool m_startedUp = false;
    bool m_refreshing = false;
    bool m_fitPending = false;
    bool m_fittedWithAdminCommands = false;   // the administrator's commands shown at the last fitting
    QString m_appTitle;

    struct Widgets {
        QLabel *title = nullptr;             // the product's name
        QLabel *yearCaption = nullptr;       // "Отчетный год"
        QLabel *year = nullptr;
        QToolButton *previousYear = nullptr, *nextYear = nullptr;
        QLabel *databaseCaption = nullptr;   // "База данных"
        TabcLRComboBox *databases = nullptr;
        QLabel *levelCaption = nullptr;      // "Уровень отчета"
        TabcLRComboBox *levels = nullptr;
        TabcLRComboBox *years = nullptr;     // hidden
        TabcBackground *background = nullptr;
        QScrollArea *backgroundArea = nullptr;   // holds the background
        // Headings: "Настройка", "Уровень отчета", "Показатели", "Обновление".
        TabcMouseLabel *setupHeading = nullptr, *levelHeading = nullptr, *indicatorsHeading = nullptr,
                       *updatesHeading = nullptr;
        // "Настройка"
        TabcMouseLabel *territory = nullptr, *institutionTypes = nullptr, *reportForms = nullptr, *controls = nullptr,
                       *controlMatch = nullptr, *attachDatabase = nullptr;
        // "Уровень отчета"
        TabcMouseLabel *createLevel = nullptr, *deleteLevel = nullptr, *sumLevels = nullptr;
        TabcMouseLabel *input = nullptr, *summaryReports = nullptr, *form47 = nullptr, *ministryExport = nullptr;
        // "Показатели"
        TabcMouseLabel *byTerritory = nullptr, *byTypes = nullptr, *byInstitution = nullptr, *indicatorMethod = nullptr;
        // "Обновление"
        TabcMouseLabel *checkUpdates = nullptr, *manageUpdates = nullptr, *updateGenerator = nullptr;
        TabcMouseLabel *exit = nullptr;
        TabcMouseLabel *about = nullptr;     // "О программе..."
    };
    Widgets m_ui;
};
