#include "app/MainWindow.h"

#include "app/SmallDialogs.h"
#include "core/AdminMode.h"
#include "engine/Caches.h"
#include "engine/StringList.h"
#include "engine/SharedState.h"
#include "platform/Errors.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "widgets/AbcBackground.h"
#include "widgets/AbcComboBox.h"
#include "widgets/AbcMouseLabel.h"
#include "widgets/WindowRules.h"

#include <QApplication>
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

    Label9 = new QLabel(QStringLiteral("Kelvana"), central);
    Label9->setObjectName(QStringLiteral("Label9"));
    Label9->setFixedHeight(kTitleHeight);
    Label9->setAlignment(Qt::AlignCenter);
    setScalableFont(Label9, sizedFont(QStringLiteral("Times New Roman"), 40, true));
    Label9->setAutoFillBackground(true);
    QPalette tp = Label9->palette();
    tp.setColor(QPalette::Window, QColor(0, 255, 255));
    tp.setColor(QPalette::WindowText, QColor(0, 128, 128));
    Label9->setPalette(tp);

    abcBackground1 = new TabcBackground(central);
    abcBackground1->setObjectName(QStringLiteral("abcBackground1"));
    abcBackground1->setColorFrom(QColor(0, 255, 255));
    abcBackground1->setColorTo(QColor(5, 121, 250));
    abcBackground1->setDrawBuffered(true);
    abcBackground1->setActive(true);

    auto *outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(Label9);
    // Where even the smallest type does not fit (a small screen at a large
    // scaling), the commands scroll instead of being cut.
    BackgroundArea = new QScrollArea(central);
    BackgroundArea->setObjectName(QStringLiteral("BackgroundArea"));
    BackgroundArea->setFrameShape(QFrame::NoFrame);
    BackgroundArea->setWidgetResizable(true);
    BackgroundArea->setWidget(abcBackground1);
    outer->addWidget(BackgroundArea);
    outer->addStretch(1);

    // Year row and lists.
    Label1 = new QLabel(QStringLiteral("Отчетный год"));
    setScalableFont(Label1, itemFont());
    SpeedButton2 = new QToolButton;
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setArrowType(Qt::LeftArrow);
    SpeedButton2->setToolTip(QStringLiteral("Предыдущий год"));
    SpeedButton2->setFocusPolicy(Qt::TabFocus);
    Label2 = new QLabel(QStringLiteral("0"));
    Label2->setObjectName(QStringLiteral("Label2"));
    setScalableFont(Label2, sizedFont(QStringLiteral("Times New Roman"), 32));
    QPalette yp = Label2->palette();
    yp.setColor(QPalette::WindowText, Qt::red);
    Label2->setPalette(yp);
    Label2->setAlignment(Qt::AlignCenter);

    SpeedButton1 = new QToolButton;
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setArrowType(Qt::RightArrow);
    SpeedButton1->setToolTip(QStringLiteral("Следующий год"));
    SpeedButton1->setFocusPolicy(Qt::TabFocus);
    Label13 = new QLabel(QStringLiteral("База данных"));
    setScalableFont(Label13, itemFont());
    DBList = new TabcLRComboBox;
    DBList->setObjectName(QStringLiteral("DBList"));
    DBList->setMinimumWidth(160);
    QFont listFont = DBList->font();
    listFont.setPixelSize(13);
    setScalableFont(DBList, listFont);
    Label10 = new QLabel(QStringLiteral("Уровень отчета"));
    setScalableFont(Label10, itemFont());
    SRList = new TabcLRComboBox;
    SRList->setObjectName(QStringLiteral("SRList"));
    SRList->setMinimumWidth(120);
    setScalableFont(SRList, listFont);
    SRList->addItem(SubReports::kAnnual, 0);
    YearList = new TabcLRComboBox(abcBackground1);
    YearList->setObjectName(QStringLiteral("YearList"));
    YearList->hide();

    auto *top = new QHBoxLayout;
    top->addWidget(Label1);
    top->addWidget(SpeedButton2);
    top->addWidget(Label2);
    top->addWidget(SpeedButton1);
    top->addSpacing(20);
    top->addWidget(Label13);
    top->addWidget(DBList);
    top->addSpacing(20);
    top->addWidget(Label10);
    top->addWidget(SRList);
    top->addStretch(1);

    // Commands.
    LAdm = heading(QStringLiteral("Настройка"));
    LAdm->setMouseDownEffects(almUnderline | almColorShadow | almSound);
    Ladm1 = command(QStringLiteral("Формирование административной структуры территории"));
    LAdm2 = command(QStringLiteral("Ведение перечня типов учреждений и назначение им  отчетных форм"));
    LAdm3 = command(QStringLiteral("Отчетные формы"));
    LAdm4 = command(QStringLiteral("Контроли"));
    LAdm4_1 = command(QStringLiteral("Сопоставление контролей"));
    LAdm5 = command(QStringLiteral("Присоединение базы данных"));
    LLev = heading(QStringLiteral("Уровень отчета"));
    LLev1 = command(QStringLiteral("Создать подотчет"));
    LLev2 = command(QStringLiteral("Удалить текущий подотчет"));
    LLev3 = command(QStringLiteral("Суммирование подотчетов"));
    abcMouseLabel11 = command(QStringLiteral("Заполнение и контроль отчетных форм"), true);
    abcMouseLabel12 = command(QStringLiteral("Формирование и контроль сводных отчетов"), true);
    abcMouseLabel13 = command(QStringLiteral("Сведения о сети и деятельности медицинский учреждений (Ф47)"), true);
    abcMouseLabel1 = command(QStringLiteral("Выгрузка в формате МЗ РФ"), true);
    LRek = heading(QStringLiteral("Показатели"));
    Lrek1 = command(QStringLiteral("В разрезе входящих сводов ( районов и т.п.)"));
    Lrek2 = command(QStringLiteral("В разрезе типов учреждений"));
    Lrek3 = command(QStringLiteral("В разрезе ЛПУ"));
    Lrek4 = command(QStringLiteral("Методика расчета показателей"));
    abcMouseLabel2 = heading(QStringLiteral("Обновление"));
    abcMouseLabel3 = command(QStringLiteral("Проверить обновления"));
    abcMouseLabel4 = command(QStringLiteral("Управление обновлениями"));
    abcMouseLabel6 = command(QStringLiteral("Генератор пакетов обновления"));
    abcMouseLabel19 = command(QStringLiteral("Завершение работы"), true);
    AboutLabel = command(QStringLiteral("О программе..."));
    QFont af = AboutLabel->font();
    af.setPixelSize(13);
    setScalableFont(AboutLabel, af);

    const QList<std::pair<QString, TabcMouseLabel *>> names = {
        {QStringLiteral("LAdm"), LAdm}, {QStringLiteral("Ladm1"), Ladm1}, {QStringLiteral("LAdm2"), LAdm2},
        {QStringLiteral("LAdm3"), LAdm3}, {QStringLiteral("LAdm4"), LAdm4}, {QStringLiteral("LAdm4_1"), LAdm4_1},
        {QStringLiteral("LAdm5"), LAdm5}, {QStringLiteral("LLev"), LLev}, {QStringLiteral("LLev1"), LLev1},
        {QStringLiteral("LLev2"), LLev2}, {QStringLiteral("LLev3"), LLev3},
        {QStringLiteral("abcMouseLabel11"), abcMouseLabel11}, {QStringLiteral("abcMouseLabel12"), abcMouseLabel12},
        {QStringLiteral("abcMouseLabel13"), abcMouseLabel13}, {QStringLiteral("abcMouseLabel1"), abcMouseLabel1},
        {QStringLiteral("LRek"), LRek}, {QStringLiteral("Lrek1"), Lrek1}, {QStringLiteral("Lrek2"), Lrek2},
        {QStringLiteral("Lrek3"), Lrek3}, {QStringLiteral("Lrek4"), Lrek4},
        {QStringLiteral("abcMouseLabel2"), abcMouseLabel2}, {QStringLiteral("abcMouseLabel3"), abcMouseLabel3},
        {QStringLiteral("abcMouseLabel4"), abcMouseLabel4}, {QStringLiteral("abcMouseLabel6"), abcMouseLabel6},
        {QStringLiteral("abcMouseLabel19"), abcMouseLabel19}, {QStringLiteral("AboutLabel"), AboutLabel}};
    for (const auto &[n, l] : names) l->setObjectName(n);

    // Administrator-only commands.
    LAdm4_1->setProperty("Tag", kAdminTag);
    abcMouseLabel6->setProperty("Tag", kAdminTag);

    auto group = [this](TabcMouseLabel *head, const QList<TabcMouseLabel *> &items) {
        QFrame *frame = bevel(abcBackground1);
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
        QFrame *frame = bevel(abcBackground1);
        auto *lay = new QHBoxLayout(frame);
        lay->setContentsMargins(10, 4, 10, 4);
        m_scaledLayouts.push_back({lay, lay->contentsMargins(), lay->spacing(), lay->spacing()});
        lay->addWidget(l);
        lay->addStretch(1);
        return frame;
    };

    auto *bl = new QVBoxLayout(abcBackground1);
    bl->setContentsMargins(24, 12, 24, 12);
    bl->setSpacing(8);
    m_scaledLayouts.push_back({bl, bl->contentsMargins(), 8, 8});
    bl->addLayout(top);
    bl->addSpacing(6);
    m_frames = {group(LAdm, {Ladm1, LAdm2, LAdm3, LAdm4, LAdm4_1, LAdm5}),
                group(LLev, {LLev1, LLev2, LLev3}),
                single(abcMouseLabel11),
                single(abcMouseLabel12),
                single(abcMouseLabel13),
                single(abcMouseLabel1),
                group(LRek, {Lrek1, Lrek2, Lrek3, Lrek4}),
                group(abcMouseLabel2, {abcMouseLabel3, abcMouseLabel4, abcMouseLabel6})};
    m_groups = new QGridLayout;
    m_groups->setContentsMargins(0, 0, 0, 0);
    m_scaledLayouts.push_back({m_groups, QMargins(), 16, 8});
    arrangeGroups(false);
    bl->addLayout(m_groups);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(single(abcMouseLabel19));
    bottom->addStretch(1);
    bottom->addWidget(AboutLabel, 0, Qt::AlignBottom);
    bl->addLayout(bottom);
    bl->addStretch(1);

    // Group colouring on hover ("Сопоставление контролей" is not part of it).
    bindGroup(LAdm, {Ladm1, LAdm2, LAdm3, LAdm4, LAdm5});
    bindGroup(LLev, {LLev1, LLev2, LLev3});
    bindGroup(LRek, {Lrek1, Lrek2, Lrek3, Lrek4});
    bindGroup(abcMouseLabel2, {abcMouseLabel3, abcMouseLabel4, abcMouseLabel6});

    connect(Ladm1, &TabcMouseLabel::clicked, this, &TMain::Ladm1Click);
    connect(LAdm2, &TabcMouseLabel::clicked, this, &TMain::LAdm2Click);
    connect(LAdm3, &TabcMouseLabel::clicked, this, &TMain::LAdm3Click);
    connect(LAdm4, &TabcMouseLabel::clicked, this, &TMain::LAdm4Click);
    connect(LAdm4_1, &TabcMouseLabel::clicked, this, &TMain::LAdm4_1Click);
    connect(LAdm5, &TabcMouseLabel::clicked, this, &TMain::LAdm5Click);
    connect(abcMouseLabel6, &TabcMouseLabel::clicked, this, &TMain::abcMouseLabel6Click);
    connect(LLev1, &TabcMouseLabel::clicked, this, &TMain::LLev1Click);
    connect(LLev2, &TabcMouseLabel::clicked, this, &TMain::LLev2Click);
    connect(LLev3, &TabcMouseLabel::clicked, this, &TMain::LLev3Click);
    connect(abcMouseLabel11, &TabcMouseLabel::clicked, this, &TMain::abcMouseLabel11Click);
    connect(abcMouseLabel12, &TabcMouseLabel::clicked, this, &TMain::abcMouseLabel12Click);
    connect(abcMouseLabel13, &TabcMouseLabel::clicked, this, &TMain::abcMouseLabel13Click);
    connect(abcMouseLabel1, &TabcMouseLabel::clicked, this, &TMain::abcMouseLabel1Click);
    connect(Lrek1, &TabcMouseLabel::clicked, this, &TMain::Lrek1Click);
    connect(Lrek2, &TabcMouseLabel::clicked, this, &TMain::Lrek2Click);
    connect(Lrek3, &TabcMouseLabel::clicked, this, &TMain::Lrek3Click);
    connect(Lrek4, &TabcMouseLabel::clicked, this, &TMain::Lrek4Click);
    connect(abcMouseLabel19, &TabcMouseLabel::clicked, this, &TMain::abcMouseLabel19Click);
    connect(AboutLabel, &TabcMouseLabel::clicked, this, &TMain::AboutClick);
    connect(SpeedButton1, &QToolButton::clicked, this, &TMain::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TMain::SpeedButton2Click);
    connect(DBList, &QComboBox::activated, this, &TMain::N260Click);
    connect(SRList, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!m_refreshing) N17Click(i);
    });

    // Keyboard order: year, lists, then the commands from top to bottom.
    QList<QWidget *> order = {SpeedButton2, SpeedButton1, DBList, SRList, Ladm1, LAdm2, LAdm3, LAdm4, LAdm4_1,
                              LAdm5, LLev1, LLev2, LLev3, abcMouseLabel11, abcMouseLabel12, abcMouseLabel13,
                              abcMouseLabel1, Lrek1, Lrek2, Lrek3, Lrek4, abcMouseLabel3, abcMouseLabel4,
                              abcMouseLabel6, abcMouseLabel19, AboutLabel};
    for (int i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

    // The window may be made smaller than its layout at full type size: the
    // type then shrinks so that everything fits (fitToSize).
    central->setMinimumSize(320, 240);
    updateCommandAvailability();
    resize(1200, 860);
    setWindowState(Qt::WindowMaximized);
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
    auto *bl = abcBackground1->layout();
    const QList<QWidget *> scalable = [this] {
        QList<QWidget *> out;
        for (QWidget *w : findChildren<QWidget *>())
            if (w->property(kBaseSize).isValid()) out.append(w);
        return out;
    }();
    const QList<TabcMouseLabel *> heads = {LAdm, LLev, LRek, abcMouseLabel2};
    auto apply = [&](double f) {
        for (QWidget *w : scalable) {
            QFont font = w->font();
            font.setPixelSize(qMax(7, qRound(w->property(kBaseSize).toInt() * f)));
            w->setFont(font);
        }
        Label9->setFixedHeight(qRound(kTitleHeight * f));
        for (QToolButton *b : {SpeedButton1, SpeedButton2}) b->setFixedSize(QSize(24, 24) * qMax(f, 0.7));
        // The lists narrow with their type (their texts stay whole: the
        // minimum only stops them from growing smaller than that).
        DBList->setMinimumWidth(qRound(160 * f));
        SRList->setMinimumWidth(qRound(120 * f));
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
        for (QFrame *frame : abcBackground1->findChildren<QFrame *>(Qt::FindDirectChildrenOnly)) {
            if (frame->layout()) frame->layout()->invalidate();
            frame->updateGeometry();
        }
        // Every layout inside, the nested ones too: a layout keeps the sizes
        // of the layouts it holds until they are invalidated themselves.
        for (QLayout *l : abcBackground1->findChildren<QLayout *>()) l->invalidate();
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
    Ladm1->setEnabled(bool(c.Ladm1));
    LAdm2->setEnabled(bool(c.LAdm2));
    LAdm3->setEnabled(bool(c.LAdm3));
    LAdm4->setEnabled(bool(c.LAdm4));
    LAdm4_1->setEnabled(bool(c.LAdm4_1));
    abcMouseLabel6->setEnabled(bool(c.abcMouseLabel6));
    LLev3->setEnabled(bool(c.LLev3));
    abcMouseLabel11->setEnabled(bool(c.abcMouseLabel11));
    abcMouseLabel12->setEnabled(bool(c.abcMouseLabel12));
    abcMouseLabel13->setEnabled(bool(c.abcMouseLabel13));
    abcMouseLabel1->setEnabled(bool(c.abcMouseLabel1));
    Lrek1->setEnabled(bool(c.Lrek1));
    Lrek2->setEnabled(bool(c.Lrek2));
    Lrek3->setEnabled(bool(c.Lrek3));
    Lrek4->setEnabled(bool(c.Lrek4));
    // The update client is not offered.
    abcMouseLabel3->setEnabled(false);
    abcMouseLabel4->setEnabled(false);
    LLev2->setEnabled(m_config.levels().canDeleteCurrent());
}

void TMain::refresh() {
    m_refreshing = true;
    const SharedState &s = shared();
    DBList->clear();
    DBList->addItems(m_config.configNames());
    DBList->setCurrentIndex(m_config.configIndex());
    SRList->clear();
    const StringList &levels = m_config.levels().list();
    if (levels.isEmpty()) {
        SRList->addItem(SubReports::kAnnual, 0);
    } else {
        for (const auto &it : levels) SRList->addItem(it.text, it.object);
    }
    SRList->setCurrentIndex(m_config.levels().currentIndex());
    YearList->clear();
    YearList->addItems(m_config.yearFolders());
    YearList->setCurrentText(s.yearText());
    Label2->setText(s.yearText());
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

void TMain::Ladm1Click() {
    guarded([this] {
        work().mode = ReportMode::None;
        work().table = ValueTable::None;
        runWindow(mainCommands().Ladm1);
        GetStruct();
    });
}

void TMain::LAdm2Click() { guarded([this] { runWindow(mainCommands().LAdm2); }); }

void TMain::LAdm3Click() {
    guarded([this] {
        runWindow(mainCommands().LAdm3);
        GetForms();
        GetTables();
    });
}

void TMain::LAdm4Click() { guarded([this] { runWindow(mainCommands().LAdm4); }); }
void TMain::LAdm4_1Click() { guarded([this] { runWindow(mainCommands().LAdm4_1); }); }

void TMain::LAdm5Click() {
    guarded([this] {
        if (m_config.N24Click()) refresh();
    });
}

void TMain::abcMouseLabel6Click() { guarded([this] { runWindow(mainCommands().abcMouseLabel6); }); }

void TMain::LLev1Click() {
    guarded([this] {
        m_config.levels().N18Click(this);
        refresh();
    });
}

void TMain::LLev2Click() {
    changeAndRefresh([this] { m_config.levels().N31Click(this); });
}

void TMain::LLev3Click() { guarded([this] { runWindow(mainCommands().LLev3); }); }

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

void TMain::abcMouseLabel11Click() {
    guarded([this] { runInMode(mainCommands().abcMouseLabel11, ReportMode::Input, ValueTable::Data, false); });
}

void TMain::abcMouseLabel12Click() {
    guarded([this] { runInMode(mainCommands().abcMouseLabel12, ReportMode::Svod, ValueTable::RepData, false); });
}

void TMain::abcMouseLabel13Click() {
    guarded([this] { runInMode(mainCommands().abcMouseLabel13, ReportMode::Net, ValueTable::RepData, true); });
}

void TMain::abcMouseLabel1Click() { guarded([this] { runWindow(mainCommands().abcMouseLabel1); }); }

void TMain::Lrek1Click() {
    guarded([this] {
        work().table = ValueTable::RepData;
        work().mode = ReportMode::Terrain;
        runWindow(mainCommands().Lrek1);
    });
}

void TMain::Lrek2Click() {
    guarded([this] {
        work().table = ValueTable::Data;
        work().mode = ReportMode::Types;
        runWindow(mainCommands().Lrek2);
    });
}

void TMain::Lrek3Click() {
    guarded([this] {
        work().table = ValueTable::RepData;
        work().mode = ReportMode::Single;
        runWindow(mainCommands().Lrek3);
    });
}

void TMain::Lrek4Click() { guarded([this] { runWindow(mainCommands().Lrek4); }); }

void TMain::abcMouseLabel19Click() { close(); }

void TMain::SpeedButton1Click() {
    changeAndRefresh([this] { m_config.stepYear(+1); });
}

void TMain::SpeedButton2Click() {
    changeAndRefresh([this] { m_config.stepYear(-1); });
}

void TMain::N260Click(int index) {
    changeAndRefresh([this, index] { m_config.openConfiguration(index); });
}

void TMain::N17Click(int index) {
    guarded([this, index] {
        try {
            m_config.levels().switchTo(index);
        } catch (...) {
            refresh();
            throw;
        }
        LLev2->setEnabled(m_config.levels().canDeleteCurrent());
        m_appTitle = m_config.applicationTitle();
        shared().AppTitle = m_appTitle;
        setWindowIconText(m_appTitle);
    });
}

void TMain::AboutClick() {
    auto about = std::make_unique<TAboutForm>(this);
    execModal(about.get());
}

void TMain::showAdminCommands() {
    const bool on = IsAdminMode();
    LAdm4_1->setVisible(on);
    abcMouseLabel6->setVisible(on);
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
    if (!BackgroundArea || !Label9) return;
    // The window height of the rule is the client area and its caption bar,
    // whatever the frame adds around them: the height fitToSize measures.
    const int caption = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    // The title's fixed height (its geometry may still be the last layout's).
    BackgroundArea->setFixedHeight(mainwin::backgroundHeight(height() + caption, Label9->minimumHeight(), caption));
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
