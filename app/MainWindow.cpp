#include "app/MainWindow.h"

#include "app/SmallDialogs.h"
#include "core/AdminMode.h"
#include "core/SampleConfig.h"
#include "engine/Caches.h"
#include "engine/StringList.h"
#include "engine/SharedState.h"
#include "platform/Errors.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "widgets/AbcBackground.h"
#include "widgets/AbcComboBox.h"
#include "widgets/AbcMouseLabel.h"
#include "widgets/WindowRules.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>

namespace mainwin {
int backgroundHeight(int windowHeight, int titleHeight, int captionHeight) {
    return qMax(0, windowHeight - titleHeight - captionHeight - 10);
}
} // namespace mainwin

namespace {

const QColor kWindowColour(141, 188, 220);
const QColor kHeadingHover(255, 255, 0);

// Type sizes of the layout at full size; the window scales them down
// together when the screen area is too small for it (fitToSize).
constexpr char kBaseSize[] = "baseFontPixels";
constexpr int kTitleHeight = 49;

QFont sizedFont(const QString &family, int pixels, bool underline = false) {
    QFont f(family);
    f.setPixelSize(pixels);
    f.setBold(true);
    f.setItalic(true);
    f.setUnderline(underline);
    return f;
}

QFont itemFont() { return sizedFont(QStringLiteral("Times New Roman"), 16); }
QFont headingFont() { return sizedFont(QStringLiteral("MS Sans Serif"), 19); }

void setScalableFont(QWidget *w, const QFont &font) {
    w->setFont(font);
    w->setProperty(kBaseSize, font.pixelSize());
}

QFrame *bevel(QWidget *parent) {
    auto *f = new QFrame(parent);
    f->setFrameShape(QFrame::Box);
    f->setFrameShadow(QFrame::Sunken);
    f->setLineWidth(1);
    return f;
}

} // namespace

std::unique_ptr<TMain> startProgram() {
    // The empty values template beside the program is made when it is
    // missing, so new years and levels can be made in any installation.
    if (!QFileInfo::exists(paths::templateValuesFile())) {
        try {
            sample::createProgramFiles(paths::programFolder());
        } catch (const std::exception &) {
            // Reported when a year or level is made from it.
        }
    }
    auto main = std::make_unique<TMain>();
    if (!main->startedUp() || shared().Year == 0) return nullptr;
    return main;
}

TMain::TMain(bool runStartUp, QWidget *parent) : QMainWindow(parent), m_config(this) {
    setObjectName(QStringLiteral("Main"));
    // Every window of the run wraps its menus, lets Tab leave its fields and fits the screen.
    winutil::installWindowRules();
    installWindowCommands();
    buildUi();
    RegisterAdminForm(this);
    connect(&AdminMode::instance(), &AdminMode::changed, this, [this](bool) { showAdminCommands(); });
    showAdminCommands();
    qApp->installEventFilter(this);
    if (runStartUp) {
        try {
            m_startedUp = m_config.startUp();
        } catch (const std::exception &e) {
            showError(winutil::errorText(e), this);
        }
        refresh();
    }
    layoutBackground();
}

TMain::~TMain() {
    if (qApp) qApp->removeEventFilter(this);
}

TabcMouseLabel *TMain::heading(const QString &caption) {
    auto *l = new TabcMouseLabel(caption);
    setScalableFont(l, headingFont());
    l->setTransparent(true);
    l->setMouseOverEffects(almUnderline | almColor);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setCursor(Qt::PointingHandCursor);
    return l;
}

TabcMouseLabel *TMain::command(const QString &caption, bool large) {
    auto *l = new TabcMouseLabel(caption);
    setScalableFont(l, large ? headingFont() : itemFont());
    // Reached with Tab and run with Enter like a button.
    l->setFocusPolicy(Qt::TabFocus);
    l->setTransparent(true);
    l->setMouseOverEffects(almUnderline | almColor);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

void TMain::bindGroup(TabcMouseLabel *head, const QList<TabcMouseLabel *> &items) {
    connect(head, &TabcMouseLabel::mouseEnter, this, [items] {
        for (TabcMouseLabel *l : items) l->setFontColor(kHeadingHover);
    });
    connect(head, &TabcMouseLabel::mouseLeave, this, [items] {
        for (TabcMouseLabel *l : items) l->setFontColor(Qt::black);
    });
}

void TMain::buildUi() {
    setWindowTitle(config::kInitialCaption);
    auto *central = new QWidget(this);
    central->setAutoFillBackground(true);
    QPalette pal = central->palette();
    pal.setColor(QPalette::Window, kWindowColour);
    central->setPalette(pal);
    setCentralWidget(central);

    addTitleAndBackground(central);
    addCommands();
    layOutCommandGroups(yearRow());
    connectCommands();

    // The window may be made smaller than its layout at full type size: the
    // type then shrinks so that everything fits (fitToSize).
    central->setMinimumSize(320, 240);
    updateCommandAvailability();
    resize(1200, 860);
    setWindowState(Qt::WindowMaximized);
}

// The product's title over the background, which scrolls where the type
// cannot shrink enough.
void TMain::addTitleAndBackground(QWidget *central) {
    m_ui.title = new QLabel(QStringLiteral("Kelvana"), central);
    m_ui.title->setObjectName(QStringLiteral("Label9"));
    m_ui.title->setFixedHeight(kTitleHeight);
    m_ui.title->setAlignment(Qt::AlignCenter);
    setScalableFont(m_ui.title, sizedFont(QStringLiteral("Times New Roman"), 40, true));
    m_ui.title->setAutoFillBackground(true);
    QPalette tp = m_ui.title->palette();
    tp.setColor(QPalette::Window, QColor(0, 255, 255));
    tp.setColor(QPalette::WindowText, QColor(0, 128, 128));
    m_ui.title->setPalette(tp);

    m_ui.background = new TabcBackground(central);
    m_ui.background->setObjectName(QStringLiteral("abcBackground1"));
    m_ui.background->setColorFrom(QColor(0, 255, 255));
    m_ui.background->setColorTo(QColor(5, 121, 250));
    m_ui.background->setDrawBuffered(true);
    m_ui.background->setActive(true);

    auto *outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(m_ui.title);
    // Where even the smallest type does not fit (a small screen at a large
    // scaling), the commands scroll instead of being cut.
    m_ui.backgroundArea = new QScrollArea(central);
    m_ui.backgroundArea->setObjectName(QStringLiteral("BackgroundArea"));
    m_ui.backgroundArea->setFrameShape(QFrame::NoFrame);
    m_ui.backgroundArea->setWidgetResizable(true);
    m_ui.backgroundArea->setWidget(m_ui.background);
    outer->addWidget(m_ui.backgroundArea);
    outer->addStretch(1);

}

// The year row and the hover commands under their headings, named for the
// tests (object names) and tagged for the administrator.
void TMain::addCommands() {
    // Year row and lists.
    m_ui.yearCaption = new QLabel(QStringLiteral("Отчетный год"));
    setScalableFont(m_ui.yearCaption, itemFont());
    // The arrows beside the year.
    const auto yearButton = [](const char *objectName, Qt::ArrowType arrow, const QString &tip) {
        auto *button = new QToolButton;
        button->setObjectName(QLatin1String(objectName));
        button->setArrowType(arrow);
        button->setToolTip(tip);
        button->setFocusPolicy(Qt::TabFocus);
        return button;
    };
    m_ui.previousYear = yearButton("SpeedButton2", Qt::LeftArrow, QStringLiteral("Предыдущий год"));
    m_ui.year = new QLabel(QStringLiteral("0"));
    m_ui.year->setObjectName(QStringLiteral("Label2"));
    setScalableFont(m_ui.year, sizedFont(QStringLiteral("Times New Roman"), 32));
    QPalette yp = m_ui.year->palette();
    yp.setColor(QPalette::WindowText, Qt::red);
    m_ui.year->setPalette(yp);
    m_ui.year->setAlignment(Qt::AlignCenter);

    m_ui.nextYear = yearButton("SpeedButton1", Qt::RightArrow, QStringLiteral("Следующий год"));
    m_ui.databaseCaption = new QLabel(QStringLiteral("База данных"));
    setScalableFont(m_ui.databaseCaption, itemFont());
    m_ui.databases = new TabcLRComboBox;
    m_ui.databases->setObjectName(QStringLiteral("DBList"));
    m_ui.databases->setMinimumWidth(160);
    QFont listFont = m_ui.databases->font();
    listFont.setPixelSize(13);
    setScalableFont(m_ui.databases, listFont);
    m_ui.levelCaption = new QLabel(QStringLiteral("Уровень отчета"));
    setScalableFont(m_ui.levelCaption, itemFont());
    m_ui.levels = new TabcLRComboBox;
    m_ui.levels->setObjectName(QStringLiteral("SRList"));
    m_ui.levels->setMinimumWidth(120);
    setScalableFont(m_ui.levels, listFont);
    m_ui.levels->addItem(SubReports::kAnnual, 0);
    m_ui.years = new TabcLRComboBox(m_ui.background);
    m_ui.years->setObjectName(QStringLiteral("YearList"));
    m_ui.years->hide();

    // Commands.
    m_ui.setupHeading = heading(QStringLiteral("Настройка"));
    m_ui.setupHeading->setMouseDownEffects(almUnderline | almColorShadow | almSound);
    m_ui.territory = command(QStringLiteral("Формирование административной структуры территории"));
    m_ui.institutionTypes = command(QStringLiteral("Ведение перечня типов учреждений и назначение им  отчетных форм"));
    m_ui.reportForms = command(QStringLiteral("Отчетные формы"));
    m_ui.controls = command(QStringLiteral("Контроли"));
    m_ui.controlMatch = command(QStringLiteral("Сопоставление контролей"));
    m_ui.attachDatabase = command(QStringLiteral("Присоединение базы данных"));
    m_ui.levelHeading = heading(QStringLiteral("Уровень отчета"));
    m_ui.createLevel = command(QStringLiteral("Создать подотчет"));
    m_ui.deleteLevel = command(QStringLiteral("Удалить текущий подотчет"));
    m_ui.sumLevels = command(QStringLiteral("Суммирование подотчетов"));
    m_ui.input = command(QStringLiteral("Заполнение и контроль отчетных форм"), true);
    m_ui.summaryReports = command(QStringLiteral("Формирование и контроль сводных отчетов"), true);
    m_ui.form47 = command(QStringLiteral("Сведения о сети и деятельности медицинский учреждений (Ф47)"), true);
    m_ui.ministryExport = command(QStringLiteral("Выгрузка в формате МЗ РФ"), true);
    m_ui.indicatorsHeading = heading(QStringLiteral("Показатели"));
    m_ui.byTerritory = command(QStringLiteral("В разрезе входящих сводов ( районов и т.п.)"));
    m_ui.byTypes = command(QStringLiteral("В разрезе типов учреждений"));
    m_ui.byInstitution = command(QStringLiteral("В разрезе ЛПУ"));
    m_ui.indicatorMethod = command(QStringLiteral("Методика расчета показателей"));
    m_ui.updatesHeading = heading(QStringLiteral("Обновление"));
    m_ui.checkUpdates = command(QStringLiteral("Проверить обновления"));
    m_ui.manageUpdates = command(QStringLiteral("Управление обновлениями"));
    m_ui.updateGenerator = command(QStringLiteral("Генератор пакетов обновления"));
    m_ui.exit = command(QStringLiteral("Завершение работы"), true);
    m_ui.about = command(QStringLiteral("О программе..."));
    QFont af = m_ui.about->font();
    af.setPixelSize(13);
    setScalableFont(m_ui.about, af);

    const QList<std::pair<QString, TabcMouseLabel *>> names = {
        {QStringLiteral("LAdm"), m_ui.setupHeading}, {QStringLiteral("Ladm1"), m_ui.territory}, {QStringLiteral("LAdm2"), m_ui.institutionTypes},
        {QStringLiteral("LAdm3"), m_ui.reportForms}, {QStringLiteral("LAdm4"), m_ui.controls}, {QStringLiteral("LAdm4_1"), m_ui.controlMatch},
        {QStringLiteral("LAdm5"), m_ui.attachDatabase}, {QStringLiteral("LLev"), m_ui.levelHeading}, {QStringLiteral("LLev1"), m_ui.createLevel},
        {QStringLiteral("LLev2"), m_ui.deleteLevel}, {QStringLiteral("LLev3"), m_ui.sumLevels},
        {QStringLiteral("abcMouseLabel11"), m_ui.input}, {QStringLiteral("abcMouseLabel12"), m_ui.summaryReports},
        {QStringLiteral("abcMouseLabel13"), m_ui.form47}, {QStringLiteral("abcMouseLabel1"), m_ui.ministryExport},
        {QStringLiteral("LRek"), m_ui.indicatorsHeading}, {QStringLiteral("Lrek1"), m_ui.byTerritory}, {QStringLiteral("Lrek2"), m_ui.byTypes},
        {QStringLiteral("Lrek3"), m_ui.byInstitution}, {QStringLiteral("Lrek4"), m_ui.indicatorMethod},
        {QStringLiteral("abcMouseLabel2"), m_ui.updatesHeading}, {QStringLiteral("abcMouseLabel3"), m_ui.checkUpdates},
        {QStringLiteral("abcMouseLabel4"), m_ui.manageUpdates}, {QStringLiteral("abcMouseLabel6"), m_ui.updateGenerator},
        {QStringLiteral("abcMouseLabel19"), m_ui.exit}, {QStringLiteral("AboutLabel"), m_ui.about}};
    for (const auto &[n, l] : names) l->setObjectName(n);

    // Administrator-only commands.
    m_ui.controlMatch->setProperty("Tag", kAdminTag);
    m_ui.updateGenerator->setProperty("Tag", kAdminTag);

}

// The year row over the command groups on the background, the exit command
// and "О программе..." at the bottom.
void TMain::layOutCommandGroups(const QList<QWidget *> &yearParts) {
    auto *top = new QHBoxLayout;
    for (QWidget *w : yearParts) {
        top->addWidget(w);
        // Room before the configuration's and the level's captions.
        if (w == m_ui.nextYear || w == m_ui.databases) top->addSpacing(20);
    }
    top->addStretch(1);

    auto group = [this](TabcMouseLabel *head, const QList<TabcMouseLabel *> &items) {
        QFrame *frame = bevel(m_ui.background);
        auto *grid = new QGridLayout(frame);
        grid->setContentsMargins(10, 6, 10, 6);
        grid->setHorizontalSpacing(20);
        grid->setVerticalSpacing(2);
        m_scaledLayouts.push_back({grid, grid->contentsMargins(), 20, 2});
        grid->addWidget(head, 0, 0, qMax(1, int(items.size())), 1, Qt::AlignTop);
        for (int i = 0; i < items.size(); ++i) grid->addWidget(items[i], i, 1);
        grid->setColumnStretch(1, 1);
        return frame;
    };
    auto single = [this](TabcMouseLabel *l) {
        QFrame *frame = bevel(m_ui.background);
        auto *lay = new QHBoxLayout(frame);
        lay->setContentsMargins(10, 4, 10, 4);
        m_scaledLayouts.push_back({lay, lay->contentsMargins(), lay->spacing(), lay->spacing()});
        lay->addWidget(l);
        lay->addStretch(1);
        return frame;
    };

    auto *bl = new QVBoxLayout(m_ui.background);
    bl->setContentsMargins(24, 12, 24, 12);
    bl->setSpacing(8);
    m_scaledLayouts.push_back({bl, bl->contentsMargins(), 8, 8});
    bl->addLayout(top);
    bl->addSpacing(6);
    m_frames = {group(m_ui.setupHeading, {m_ui.territory, m_ui.institutionTypes, m_ui.reportForms, m_ui.controls, m_ui.controlMatch, m_ui.attachDatabase}),
                group(m_ui.levelHeading, {m_ui.createLevel, m_ui.deleteLevel, m_ui.sumLevels}),
                single(m_ui.input),
                single(m_ui.summaryReports),
                single(m_ui.form47),
                single(m_ui.ministryExport),
                group(m_ui.indicatorsHeading, {m_ui.byTerritory, m_ui.byTypes, m_ui.byInstitution, m_ui.indicatorMethod}),
                group(m_ui.updatesHeading, {m_ui.checkUpdates, m_ui.manageUpdates, m_ui.updateGenerator})};
    m_groups = new QGridLayout;
    m_groups->setContentsMargins(0, 0, 0, 0);
    m_scaledLayouts.push_back({m_groups, QMargins(), 16, 8});
    arrangeGroups(false);
    bl->addLayout(m_groups);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(single(m_ui.exit));
    bottom->addStretch(1);
    bottom->addWidget(m_ui.about, 0, Qt::AlignBottom);
    bl->addLayout(bottom);
    bl->addStretch(1);

}

// Hover colouring of the groups, the commands' handlers and the keyboard order.
void TMain::connectCommands() {
    // Group colouring on hover ("Сопоставление контролей" is not part of it).
    bindGroup(m_ui.setupHeading, {m_ui.territory, m_ui.institutionTypes, m_ui.reportForms, m_ui.controls, m_ui.attachDatabase});
    bindGroup(m_ui.levelHeading, {m_ui.createLevel, m_ui.deleteLevel, m_ui.sumLevels});
    bindGroup(m_ui.indicatorsHeading, {m_ui.byTerritory, m_ui.byTypes, m_ui.byInstitution, m_ui.indicatorMethod});
    bindGroup(m_ui.updatesHeading, {m_ui.checkUpdates, m_ui.manageUpdates, m_ui.updateGenerator});

    connect(m_ui.territory, &TabcMouseLabel::clicked, this, &TMain::editTerritory);
    connect(m_ui.institutionTypes, &TabcMouseLabel::clicked, this, &TMain::editInstitutionTypes);
    connect(m_ui.reportForms, &TabcMouseLabel::clicked, this, &TMain::openReportForms);
    connect(m_ui.controls, &TabcMouseLabel::clicked, this, &TMain::editControls);
    connect(m_ui.controlMatch, &TabcMouseLabel::clicked, this, &TMain::matchControls);
    connect(m_ui.attachDatabase, &TabcMouseLabel::clicked, this, &TMain::attachDatabase);
    connect(m_ui.updateGenerator, &TabcMouseLabel::clicked, this, &TMain::generateUpdatePackages);
    connect(m_ui.createLevel, &TabcMouseLabel::clicked, this, &TMain::createLevel);
    connect(m_ui.deleteLevel, &TabcMouseLabel::clicked, this, &TMain::deleteLevel);
    connect(m_ui.sumLevels, &TabcMouseLabel::clicked, this, &TMain::sumLevels);
    connect(m_ui.input, &TabcMouseLabel::clicked, this, &TMain::enterForms);
    connect(m_ui.summaryReports, &TabcMouseLabel::clicked, this, &TMain::openSummaryReports);
    connect(m_ui.form47, &TabcMouseLabel::clicked, this, &TMain::openForm47);
    connect(m_ui.ministryExport, &TabcMouseLabel::clicked, this, &TMain::exportForMinistry);
    connect(m_ui.byTerritory, &TabcMouseLabel::clicked, this, &TMain::indicatorsByTerritory);
    connect(m_ui.byTypes, &TabcMouseLabel::clicked, this, &TMain::indicatorsByTypes);
    connect(m_ui.byInstitution, &TabcMouseLabel::clicked, this, &TMain::indicatorsByInstitution);
    connect(m_ui.indicatorMethod, &TabcMouseLabel::clicked, this, &TMain::editIndicatorMethod);
    connect(m_ui.exit, &TabcMouseLabel::clicked, this, &TMain::exitProgram);
    connect(m_ui.about, &TabcMouseLabel::clicked, this, &TMain::showAbout);
    connect(m_ui.nextYear, &QToolButton::clicked, this, &TMain::showNextYear);
    connect(m_ui.previousYear, &QToolButton::clicked, this, &TMain::showPreviousYear);
    connect(m_ui.databases, &QComboBox::activated, this, &TMain::openChosenDatabase);
    connect(m_ui.levels, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!m_refreshing) switchToChosenLevel(i);
    });

    // Keyboard order: year, lists, then the commands from top to bottom.
    QList<QWidget *> order = {m_ui.previousYear, m_ui.nextYear, m_ui.databases, m_ui.levels, m_ui.territory, m_ui.institutionTypes, m_ui.reportForms, m_ui.controls, m_ui.controlMatch,
                              m_ui.attachDatabase, m_ui.createLevel, m_ui.deleteLevel, m_ui.sumLevels, m_ui.input, m_ui.summaryReports, m_ui.form47,
                              m_ui.ministryExport, m_ui.byTerritory, m_ui.byTypes, m_ui.byInstitution, m_ui.indicatorMethod, m_ui.checkUpdates, m_ui.manageUpdates,
                              m_ui.updateGenerator, m_ui.exit, m_ui.about};
    for (int i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

}

QList<QWidget *> TMain::yearRow() const {
    return {m_ui.yearCaption,     m_ui.previousYear, m_ui.year,         m_ui.nextYear,
            m_ui.databaseCaption, m_ui.databases,    m_ui.levelCaption, m_ui.levels};
}

void TMain::arrangeGroups(bool twoColumns) {
    if (m_twoColumns == twoColumns && m_groups->count() > 0) return;
    m_twoColumns = twoColumns;
    for (QFrame *f : m_frames) m_groups->removeWidget(f);
    // Two columns: the settings, level and update groups on the left, the
    // work commands and the indicators on the right.
    static const int leftColumn[] = {0, 1, 7}, rightColumn[] = {2, 3, 4, 5, 6};
    if (twoColumns) {
        int row = 0;
        for (int i : leftColumn) m_groups->addWidget(m_frames[i], row++, 0);
        row = 0;
        for (int i : rightColumn) m_groups->addWidget(m_frames[i], row++, 1);
        m_groups->setRowStretch(int(std::size(rightColumn)), 1);
    } else {
        for (int i = 0; i < m_frames.size(); ++i) m_groups->addWidget(m_frames[i], i, 0);
        m_groups->setRowStretch(int(std::size(rightColumn)), 0);
    }
    m_groups->setColumnStretch(1, twoColumns ? 1 : 0);
    m_groups->setColumnStretch(0, 1);
}

double TMain::fitToSize(const QSize &client) {
    auto *bl = m_ui.background->layout();
    const QList<QWidget *> scalable = [this] {
        QList<QWidget *> out;
        for (QWidget *w : findChildren<QWidget *>())
            if (w->property(kBaseSize).isValid()) out.append(w);
        return out;
    }();
    const QList<TabcMouseLabel *> heads = {m_ui.setupHeading, m_ui.levelHeading, m_ui.indicatorsHeading, m_ui.updatesHeading};
    auto apply = [&](double f) {
        for (QWidget *w : scalable) {
            QFont font = w->font();
            font.setPixelSize(qMax(7, qRound(w->property(kBaseSize).toInt() * f)));
            w->setFont(font);
        }
        m_ui.title->setFixedHeight(qRound(kTitleHeight * f));
        for (QToolButton *b : {m_ui.nextYear, m_ui.previousYear}) b->setFixedSize(QSize(24, 24) * qMax(f, 0.7));
        // The lists narrow with their type (their texts stay whole: the
        // minimum only stops them from growing smaller than that).
        m_ui.databases->setMinimumWidth(qRound(160 * f));
        // The level's name is never cut; a long configuration name is
        // shortened by its list instead.
        m_ui.levels->setMinimumWidth(qMax(qRound(120 * f), m_ui.levels->widthForItems()));
        for (const ScaledLayout &l : m_scaledLayouts) {
            const QMargins &m = l.margins;
            l.layout->setContentsMargins(qRound(m.left() * f), qRound(m.top() * f), qRound(m.right() * f),
                                         qRound(m.bottom() * f));
            if (auto *grid = qobject_cast<QGridLayout *>(l.layout)) {
                grid->setHorizontalSpacing(qRound(l.hspacing * f));
                grid->setVerticalSpacing(qRound(l.vspacing * f));
            } else {
                l.layout->setSpacing(qRound(l.hspacing * f));
            }
        }
        // The headings share one column width, so that the groups line up.
        int headWidth = 0;
        for (TabcMouseLabel *h : heads) {
            h->setMinimumWidth(0);
            headWidth = qMax(headWidth, h->sizeHint().width());
        }
        for (TabcMouseLabel *h : heads) h->setMinimumWidth(headWidth);
        // Sizes of the group frames are cached by the layouts holding them.
        for (QFrame *frame : m_ui.background->findChildren<QFrame *>(Qt::FindDirectChildrenOnly)) {
            if (frame->layout()) frame->layout()->invalidate();
            frame->updateGeometry();
        }
        // Every layout inside, the nested ones too: a layout keeps the sizes
        // of the layouts it holds until they are invalidated themselves.
        for (QLayout *l : m_ui.background->findChildren<QLayout *>()) l->invalidate();
        bl->invalidate();
        const QSize need = bl->minimumSize();
        // The title's new height, not the one of the last layout.
        return need.width() <= client.width() && qRound(kTitleHeight * f) + need.height() + 10 <= client.height();
    };
    // One column while the type can stay near its size, else two columns;
    // one column again when neither fits (a narrow window).
    const struct {
        bool twoColumns;
        double from, to;
    } tries[] = {{false, 1.0, 0.75}, {true, 1.0, 0.5}, {false, 0.7, 0.4}};
    for (const auto &t : tries) {
        arrangeGroups(t.twoColumns);
        for (double f = t.from; f >= t.to - 0.001; f -= 0.05)
            if (apply(f)) return f;
    }
    return 0.4;
}

void TMain::updateCommandAvailability() {
    const MainCommands &c = mainCommands();
    m_ui.territory->setEnabled(bool(c.territory));
    m_ui.institutionTypes->setEnabled(bool(c.institutionTypes));
    m_ui.reportForms->setEnabled(bool(c.reportForms));
    m_ui.controls->setEnabled(bool(c.controls));
    m_ui.controlMatch->setEnabled(bool(c.controlMatch));
    m_ui.updateGenerator->setEnabled(bool(c.updateGenerator));
    m_ui.sumLevels->setEnabled(bool(c.sumLevels));
    m_ui.input->setEnabled(bool(c.input));
    m_ui.summaryReports->setEnabled(bool(c.summaryReports));
    m_ui.form47->setEnabled(bool(c.form47));
    m_ui.ministryExport->setEnabled(bool(c.ministryExport));
    m_ui.byTerritory->setEnabled(bool(c.indicatorsByTerritory));
    m_ui.byTypes->setEnabled(bool(c.indicatorsByTypes));
    m_ui.byInstitution->setEnabled(bool(c.indicatorsByInstitution));
    m_ui.indicatorMethod->setEnabled(bool(c.indicatorMethod));
    // The update client is not offered.
    m_ui.checkUpdates->setEnabled(false);
    m_ui.manageUpdates->setEnabled(false);
    m_ui.deleteLevel->setEnabled(m_config.levels().canDeleteCurrent());
}

void TMain::refresh() {
    m_refreshing = true;
    const SharedState &s = shared();
    m_ui.databases->clear();
    m_ui.databases->addItems(m_config.configNames());
    m_ui.databases->setCurrentIndex(m_config.configIndex());
    m_ui.levels->clear();
    const StringList &levels = m_config.levels().list();
    if (levels.isEmpty()) {
        m_ui.levels->addItem(SubReports::kAnnual, 0);
    } else {
        for (const auto &it : levels) m_ui.levels->addItem(it.text, it.object);
    }
    m_ui.levels->setCurrentIndex(m_config.levels().currentIndex());
    m_ui.years->clear();
    m_ui.years->addItems(m_config.yearFolders());
    m_ui.years->setCurrentText(s.yearText());
    m_ui.year->setText(s.yearText());
    setWindowTitle(m_config.windowCaption());
    m_appTitle = m_config.applicationTitle();
    shared().AppTitle = m_appTitle;
    setWindowIconText(m_appTitle);
    updateCommandAvailability();
    m_refreshing = false;
}

void TMain::showOnScreen() {
    if (QScreen *sc = screen()) setGeometry(sc->availableGeometry());
    showMaximized();
}

void TMain::GetForms() { caches::GetForms(); }
void TMain::GetTables() { caches::GetTables(); }
void TMain::GetStruct() { caches::GetStruct(); }
void TMain::GetTree() { caches::GetTree(); }

void TMain::guarded(const std::function<void()> &work) { winutil::guarded(this, work); }

// The window shows the state after a change even when the change failed.
void TMain::changeAndRefresh(const std::function<void()> &change) {
    guarded([this, &change] {
        try {
            change();
        } catch (...) {
            refresh();
            throw;
        }
        refresh();
    });
}

WorkContext &TMain::work() {
    const QString of = shared().yearFolder();
    if (of != m_workOf) {
        m_work = WorkContext{};
        m_workOf = of;
    }
    return m_work;
}

void TMain::runWindow(const MainCommands::Slot &slot) {
    if (slot) slot(this, work());
}

// ---- Commands ---------------------------------------------------------------

void TMain::editTerritory() {
    guarded([this] {
        work().mode = ReportMode::None;
        work().table = ValueTable::None;
        runWindow(mainCommands().territory);
        GetStruct();
    });
}

void TMain::editInstitutionTypes() { guarded([this] { runWindow(mainCommands().institutionTypes); }); }

void TMain::openReportForms() {
    guarded([this] {
        runWindow(mainCommands().reportForms);
        GetForms();
        GetTables();
    });
}

void TMain::editControls() { guarded([this] { runWindow(mainCommands().controls); }); }
void TMain::matchControls() { guarded([this] { runWindow(mainCommands().controlMatch); }); }

void TMain::attachDatabase() {
    guarded([this] {
        if (m_config.attachDatabase()) refresh();
    });
}

void TMain::generateUpdatePackages() { guarded([this] { runWindow(mainCommands().updateGenerator); }); }

void TMain::createLevel() {
    guarded([this] {
        m_config.levels().createLevel(this);
        refresh();
    });
}

void TMain::deleteLevel() {
    changeAndRefresh([this] { m_config.levels().deleteCurrentLevel(this); });
}

void TMain::sumLevels() { guarded([this] { runWindow(mainCommands().sumLevels); }); }

// A mode command's value table and network mode hold only while its window is open.
void TMain::runInMode(const MainCommands::Slot &slot, ReportMode mode, ValueTable table, bool net) {
    work().mode = mode;
    work().table = table;
    work().net = net;
    struct Reset {
        WorkContext &work;
        ~Reset() {
            work.table = ValueTable::None;
            work.net = false;
        }
    } reset{m_work};
    runWindow(slot);
}

void TMain::enterForms() {
    guarded([this] { runInMode(mainCommands().input, ReportMode::Input, ValueTable::Data, false); });
}

void TMain::openSummaryReports() {
    guarded([this] { runInMode(mainCommands().summaryReports, ReportMode::Svod, ValueTable::RepData, false); });
}

void TMain::openForm47() {
    guarded([this] { runInMode(mainCommands().form47, ReportMode::Net, ValueTable::RepData, true); });
}

void TMain::exportForMinistry() { guarded([this] { runWindow(mainCommands().ministryExport); }); }

void TMain::indicatorsByTerritory() {
    guarded([this] {
        work().table = ValueTable::RepData;
        work().mode = ReportMode::Terrain;
        runWindow(mainCommands().indicatorsByTerritory);
    });
}

void TMain::indicatorsByTypes() {
    guarded([this] {
        work().table = ValueTable::Data;
        work().mode = ReportMode::Types;
        runWindow(mainCommands().indicatorsByTypes);
    });
}

void TMain::indicatorsByInstitution() {
    guarded([this] {
        work().table = ValueTable::RepData;
        work().mode = ReportMode::Single;
        runWindow(mainCommands().indicatorsByInstitution);
    });
}

void TMain::editIndicatorMethod() { guarded([this] { runWindow(mainCommands().indicatorMethod); }); }

void TMain::exitProgram() { close(); }

void TMain::showNextYear() {
    changeAndRefresh([this] { m_config.stepYear(+1); });
}

void TMain::showPreviousYear() {
    changeAndRefresh([this] { m_config.stepYear(-1); });
}

void TMain::openChosenDatabase(int index) {
    changeAndRefresh([this, index] { m_config.openConfiguration(index); });
}

void TMain::switchToChosenLevel(int index) {
    guarded([this, index] {
        try {
            m_config.levels().switchTo(index);
        } catch (...) {
            refresh();
            throw;
        }
        m_ui.deleteLevel->setEnabled(m_config.levels().canDeleteCurrent());
        m_appTitle = m_config.applicationTitle();
        shared().AppTitle = m_appTitle;
        setWindowIconText(m_appTitle);
    });
}

void TMain::showAbout() {
    auto about = std::make_unique<TAboutForm>(this);
    execModal(about.get());
}

void TMain::showAdminCommands() {
    const bool on = IsAdminMode();
    m_ui.controlMatch->setVisible(on);
    m_ui.updateGenerator->setVisible(on);
    // Two more or two fewer commands (the mode shows them before it tells
    // this window): the type is fitted to the window again.
    if (on != m_fittedWithAdminCommands) {
        m_fittedWithAdminCommands = on;
        fitToSize(size());
        layoutBackground();
    }
}

void TMain::toggleAdministratorMode() {
    guarded([this] {
        ToggleAdminMode(this);
        showMessage(IsAdminMode() ? QStringLiteral("Административный режим активирован (Ctrl+Shift+G)")
                                  : QStringLiteral("Административный режим деактивирован (Ctrl+Shift+G)"),
                    this);
        showAdminCommands();
    });
}

// ---- Window behaviour --------------------------------------------------------

bool TMain::eventFilter(QObject *watched, QEvent *event) {
    // Key preview: the keys work whatever control of this window has the focus.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == this) {
        auto *ke = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = ke->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
        if (ke->key() == Qt::Key_Escape && ke->modifiers() == Qt::NoModifier) {
            close();
            return true;
        }
        if (ke->key() == Qt::Key_G && mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
            toggleAdministratorMode();
            return true;
        }
        // Enter runs the command that has the focus.
        auto *label = qobject_cast<TabcMouseLabel *>(watched);
        if (label && (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) && label->isEnabled()) {
            emit label->clicked();
            return true;
        }
    }
    // The command with the focus looks as under the mouse.
    if (auto *label = qobject_cast<TabcMouseLabel *>(watched); label && label->window() == this) {
        if (event->type() == QEvent::FocusIn) label->mouseEntered();
        else if (event->type() == QEvent::FocusOut) label->mouseLeft();
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TMain::event(QEvent *event) {
    if (event->type() == QEvent::WindowActivate) {
        if (shared().Year == 0) {
            QTimer::singleShot(0, this, &QWidget::close);
        } else {
            showAdminCommands();
        }
    }
    return QMainWindow::event(event);
}

void TMain::layoutBackground() {
    if (!m_ui.backgroundArea || !m_ui.title) return;
    // The window height of the rule is the client area and its caption bar,
    // whatever the frame adds around them: the height fitToSize measures.
    const int caption = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    // The title's fixed height (its geometry may still be the last layout's).
    m_ui.backgroundArea->setFixedHeight(mainwin::backgroundHeight(height() + caption, m_ui.title->minimumHeight(), caption));
}

void TMain::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    // The central widget is resized after this event: the window has no other bars.
    fitToSize(event->size());
    layoutBackground();
    // A window manager may resize the window several times while it is
    // shown; the size it ends with is fitted once more when they are over.
    if (!m_fitPending) {
        m_fitPending = true;
        QTimer::singleShot(0, this, [this] {
            m_fitPending = false;
            fitToSize(size());
            layoutBackground();
        });
    }
}
