#include "widgets/WindowRules.h"

#include "widgets/WindowLayout.h"

#include <QAbstractItemView>
#include <QActionEvent>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QHelpEvent>
#include <QDialog>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOption>
#include <QStyleOptionMenuItem>
#include <QTextEdit>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>

namespace winutil {

namespace {

constexpr char kRuled[] = "windowRulesApplied";

// How menu bars are drawn and reached by keyboard: the menu chosen with Alt
// and the arrows is drawn as chosen (the style draws only an open one), and
// only the first row of a bar answers Alt (its other rows are reached with
// the arrows from it).
class MenuBarStyle : public QProxyStyle {
public:
    explicit MenuBarStyle(bool altNavigation) : m_alt(altNavigation) {}
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override {
        if (element == CE_MenuBarItem && widget && widget->hasFocus() && (option->state & State_Selected)) {
            if (const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option)) {
                QStyleOptionMenuItem chosen = *item;
                chosen.state |= State_Sunken;
                QProxyStyle::drawControl(element, &chosen, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *data) const override {
        if (hint == SH_MenuBar_AltKeyNavigation && !m_alt) return 0;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }

private:
    bool m_alt;
};

QStyle *menuBarStyle(bool firstRow) {
    static QPointer<QStyle> first, other;
    QPointer<QStyle> &style = firstRow ? first : other;
    if (!style) {
        style = new MenuBarStyle(firstRow);
        style->setParent(qApp);
    }
    return style;
}

// The menus of one menu bar laid out in rows: the bar the window made is the
// first row, more bars below it take the menus that do not fit its width.
class MenuRows : public QWidget {
public:
    explicit MenuRows(QMenuBar *first) : m_first(first) {
        setObjectName(QStringLiteral("menuRows"));
        auto *rows = new QVBoxLayout(this);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(0);
        m_all = first->actions();
        first->setStyle(menuBarStyle(true));
        rows->addWidget(first);
        // Where the keyboard was before it went to the menus.
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
            auto mine = [this](QWidget *w) { return w && m_bars.contains(qobject_cast<QMenuBar *>(w)); };
            if (mine(now) && !mine(old) && old) m_returnFocus = old;
        });
        m_bars.append(first);
        first->installEventFilter(this);
        QSizePolicy p(QSizePolicy::Preferred, QSizePolicy::Fixed);
        p.setHeightForWidth(true);
        setSizePolicy(p);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        return int(rowsFor(width).size()) * qMax(1, m_first->sizeHint().height());
    }
    QSize sizeHint() const override { return QSize(m_first->sizeHint().width(), heightForWidth(width())); }
    QSize minimumSizeHint() const override { return QSize(0, heightForWidth(width())); }

protected:
    void resizeEvent(QResizeEvent *event) override {
        QWidget::resizeEvent(event);
        arrange();
    }
    bool eventFilter(QObject *watched, QEvent *event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
            if (auto *bar = qobject_cast<QMenuBar *>(watched); bar && moveByKeyboard(bar, static_cast<QKeyEvent *>(event)))
                return true;
            break;
        case QEvent::ActionAdded: {
            // A menu the window adds later goes at the end of the order.
            auto *a = static_cast<QActionEvent *>(event)->action();
            if (!m_moving && !m_all.contains(a)) m_all.append(a);
            scheduleArrange();
            break;
        }
        case QEvent::ActionChanged:
            if (!m_moving) scheduleArrange();
            break;
        default:
            break;
        }
        return QWidget::eventFilter(watched, event);
    }

private:
    static QList<QAction *> shown(QMenuBar *bar) {
        QList<QAction *> out;
        for (QAction *a : bar->actions())
            if (a->isVisible() && !a->isSeparator()) out.append(a);
        return out;
    }

    // The arrows go on from the end of a row to the next one; the rows after
    // the first open their menus with Enter, Space and Down, Esc leaves them.
    bool moveByKeyboard(QMenuBar *bar, const QKeyEvent *ke) {
        if (!bar->hasFocus() && !(bar->activeAction() && bar->activeAction()->menu() &&
                                  bar->activeAction()->menu()->isVisible()))
            return false;
        QAction *active = bar->activeAction();
        const QList<QAction *> here = shown(bar);
        if (!active || here.isEmpty()) return false;
        const int key = ke->key();
        if ((key == Qt::Key_Right && active == here.last()) || (key == Qt::Key_Left && active == here.first())) {
            QList<QMenuBar *> rows;
            for (QMenuBar *b : m_bars)
                if (b->isVisible() && !shown(b).isEmpty()) rows.append(b);
            if (rows.size() < 2) return false;
            const int at = int(rows.indexOf(bar));
            QMenuBar *next = rows[(at + (key == Qt::Key_Right ? 1 : int(rows.size()) - 1)) % rows.size()];
            if (QMenu *open = active->menu()) open->hide();
            bar->setActiveAction(nullptr);
            next->setFocus(Qt::MenuBarFocusReason);
            next->setActiveAction(key == Qt::Key_Right ? shown(next).first() : shown(next).last());
            next->update();
            return true;
        }
        if (bar == m_first) return false;
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space || key == Qt::Key_Down ||
            key == Qt::Key_Up) {
            if (active->menu()) bar->setActiveAction(active);
            else active->trigger();
            return true;
        }
        if (key == Qt::Key_Escape) {
            bar->setActiveAction(nullptr);
            if (m_returnFocus) m_returnFocus->setFocus(Qt::MenuBarFocusReason);
            else bar->clearFocus();
            return true;
        }
        return false;
    }

    int itemWidth(QAction *a) const {
        QStyleOptionMenuItem opt;
        opt.initFrom(m_first);
        opt.menuItemType = QStyleOptionMenuItem::Normal;
        opt.checkType = QStyleOptionMenuItem::NotCheckable;
        opt.text = a->text();
        opt.menuRect = m_first->rect();
        const QSize text = m_first->fontMetrics().size(Qt::TextShowMnemonic, a->text());
        return m_first->style()->sizeFromContents(QStyle::CT_MenuBarItem, &opt, text, m_first).width();
    }

    // The menus of each row for a width.
    QList<QList<QAction *>> rowsFor(int width) const {
        QStyle *st = m_first->style();
        const int spacing = st->pixelMetric(QStyle::PM_MenuBarItemSpacing, nullptr, m_first);
        const int edge = 2 * (st->pixelMetric(QStyle::PM_MenuBarPanelWidth, nullptr, m_first) +
                              st->pixelMetric(QStyle::PM_MenuBarHMargin, nullptr, m_first)) + 4;
        QList<QList<QAction *>> rows{{}};
        int used = edge;
        for (QAction *a : m_all) {
            if (!a->isVisible()) {
                rows.last().append(a);
                continue;
            }
            const int w = itemWidth(a) + spacing;
            if (used + w > width && !rows.last().isEmpty() && used > edge) {
                rows.append(QList<QAction *>{});
                used = edge;
            }
            rows.last().append(a);
            used += w;
        }
        return rows;
    }

    void scheduleArrange() {
        if (m_pending) return;
        m_pending = true;
        QTimer::singleShot(0, this, [this] {
            m_pending = false;
            arrange();
            updateGeometry();
        });
    }

    void arrange() {
        const QList<QList<QAction *>> rows = rowsFor(width());
        bool same = rows.size() == m_bars.size();
        for (int i = 0; same && i < rows.size(); ++i) same = rows[i] == m_bars[i]->actions();
        if (same) return;
        m_moving = true;
        while (m_bars.size() < rows.size()) {
            auto *bar = new QMenuBar(this);
            bar->setStyle(menuBarStyle(false));
            bar->setStyleSheet(m_first->styleSheet());
            bar->setFont(m_first->font());
            bar->installEventFilter(this);
            static_cast<QVBoxLayout *>(layout())->addWidget(bar);
            m_bars.append(bar);
        }
        for (QMenuBar *bar : m_bars)
            for (QAction *a : bar->actions()) bar->removeAction(a);
        for (int i = 0; i < rows.size(); ++i) m_bars[i]->addActions(rows[i]);
        for (int i = 0; i < m_bars.size(); ++i) m_bars[i]->setVisible(i < rows.size());
        m_moving = false;
        updateGeometry();
    }

    QMenuBar *m_first;
    QList<QMenuBar *> m_bars;
    QList<QAction *> m_all;
    QPointer<QWidget> m_returnFocus;   // where Esc on a later row returns
    bool m_pending = false, m_moving = false;
};

void wrapMenuBar(QWidget *window) {
    QLayout *layout = window->layout();
    if (!layout) return;
    auto *bar = qobject_cast<QMenuBar *>(layout->menuBar());
    if (!bar) {
        for (QMenuBar *b : window->findChildren<QMenuBar *>())
            if (b->window() == window) b->setStyle(menuBarStyle(true));
        return;
    }
    // Windows with a second bar for administrator mode switch between bars.
    int bars = 0;
    for (QMenuBar *b : window->findChildren<QMenuBar *>())
        if (b->window() == window) {
            ++bars;
            b->setStyle(menuBarStyle(true));
        }
    if (bars != 1) return;
    auto *rows = new MenuRows(bar);
    layout->setMenuBar(rows);
}

// The parts of a window that scrolls: as tall as their least height at the
// width shown, and taller only when the window is.
class ScrolledParts : public QWidget {
public:
    int heightForWidth(int width) const override {
        return layout() ? layout()->totalMinimumHeightForWidth(width) : QWidget::heightForWidth(width);
    }
};

// The window's parts in a scroll area when its layout is larger than the
// screen's free area at the width it gets.
void scrollWhenLarger(QWidget *window, const QSize &room, int width) {
    QLayout *layout = window->layout();
    if (!layout || qobject_cast<QMainWindow *>(window)) return;
    // Qt's own dialogs size themselves to the screen.
    if (window->inherits("QMessageBox") || window->inherits("QFileDialog") || window->inherits("QInputDialog"))
        return;
    const QSize need = layout->totalMinimumSize();
    // Rows that wrap are as tall as the width the window gets makes them.
    const int height = layout->hasHeightForWidth() ? layout->totalMinimumHeightForWidth(width) : need.height();
    if (need.width() <= room.width() && height <= room.height()) return;
    QWidget *menu = layout->menuBar();
    if (menu) layout->setMenuBar(nullptr);
    auto *inner = new ScrolledParts;
    inner->setLayout(layout);   // moves the layout and its widgets
    auto *scroll = new QScrollArea(window);
    scroll->setObjectName(QStringLiteral("windowScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(inner);
    auto *outer = new QVBoxLayout(window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    if (menu) outer->setMenuBar(menu);
    outer->addWidget(scroll);
    window->setMinimumSize(0, 0);
}

// The size a window opens at: the size it wants, within the room. Narrowed,
// it is as tall as its wrapped texts become at the width it gets (their height
// at the width it wanted would cut them).
QSize fittedSize(const QWidget *w, const QSize &wanted, const QSize &room) {
    QSize size = wanted.boundedTo(room);
    const QLayout *layout = w->layout();
    if (layout && layout->hasHeightForWidth())
        size.setHeight(qMin(room.height(), qMax(size.height(), layout->totalHeightForWidth(size.width()))));
    return size;
}

// The width a window needs to show its caption whole in a title bar: the
// caption in bold, with room for the bar's icon, its three buttons and
// the window manager's margins (its title font may be a little larger).
int captionWidth(const QWidget *w) {
    QFont bold = w->font();
    bold.setBold(true);
    const QFontMetrics fm(bold);
    return fm.horizontalAdvance(w->windowTitle()) + 10 * fm.height();
}

// The next (or previous) widget of the window that Tab would reach from w.
QWidget *focusNeighbour(QWidget *w, bool forward) {
    QWidget *n = w;
    do {
        n = forward ? n->nextInFocusChain() : n->previousInFocusChain();
        if (n == w) break;
        if (n->window() == w->window() && n->isVisible() && n->isEnabled() && (n->focusPolicy() & Qt::TabFocus) &&
            !n->focusProxy())
            return n;
    } while (n != w);
    return nullptr;
}

// A group of options is one stop of Tab and Shift+Tab, entered on its chosen
// option (the arrows choose within it); without a chosen one, every option is
// a stop. Qt does so only once an option of the group has had the focus.
QList<QAbstractButton *> optionGroupOf(QAbstractButton *b) {
    if (QButtonGroup *g = b->group()) return g->exclusive() ? g->buttons() : QList<QAbstractButton *>{};
    if (!b->autoExclusive() || !b->parentWidget()) return {};
    QList<QAbstractButton *> out;
    for (QRadioButton *r : b->parentWidget()->findChildren<QRadioButton *>(Qt::FindDirectChildrenOnly))
        if (r->autoExclusive()) out.append(r);
    return out;
}

void fixOptionStops(QAbstractButton *b) {
    const QList<QAbstractButton *> group = optionGroupOf(b);
    bool chosen = false;
    for (QAbstractButton *o : group) chosen = chosen || o->isChecked();
    for (QAbstractButton *o : group) {
        // Only options a user may tab to at all.
        if (!o->property("optionStop").isValid()) o->setProperty("optionStop", bool(o->focusPolicy() & Qt::TabFocus));
        if (!o->property("optionStop").toBool()) continue;
        const bool stop = !chosen || o->isChecked();
        o->setFocusPolicy(stop ? Qt::FocusPolicy(o->focusPolicy() | Qt::TabFocus)
                               : Qt::FocusPolicy(o->focusPolicy() & ~Qt::TabFocus));
    }
}

// The drop-down list whose open list the view is.
QComboBox *comboOfPopup(const QAbstractItemView *view) {
    for (QWidget *p = view->parentWidget(); p; p = p->parentWidget())
        if (auto *combo = qobject_cast<QComboBox *>(p)) return combo->view() == view ? combo : nullptr;
    return nullptr;
}

// A text its list cuts (an item narrower than its text or scrolled past its end, a closed drop-down list narrower
// than its choice) is shown whole in a tip where the list gives none of its own.
bool showCutText(QWidget *w, const QHelpEvent *e) {
    if (auto *combo = qobject_cast<QComboBox *>(w)) {
        const QString text = combo->currentText();
        if (!combo->toolTip().isEmpty() || combo->isEditable() || text.isEmpty() ||
            combo->width() >= comboWidthFor(combo, text))
            return false;
        QToolTip::showText(e->globalPos(), text, combo, combo->rect());
        return true;
    }
    auto *view = w->parentWidget() ? qobject_cast<QAbstractItemView *>(w->parentWidget()) : nullptr;
    if (!view || view->viewport() != w) return false;
    const QModelIndex index = view->indexAt(e->pos());
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty() || !index.data(Qt::ToolTipRole).toString().isEmpty()) return false;
    const QRect shown = view->visualRect(index).intersected(view->viewport()->rect());
    bool cut = shown.width() < view->sizeHintForIndex(index).width();
    if (const QComboBox *combo = comboOfPopup(view)) cut = view->window()->width() < comboWidthFor(combo, text);
    if (!cut) return false;
    QToolTip::showText(e->globalPos(), text, w, shown);
    return true;
}

class WindowRules : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::ToolTip && watched->isWidgetType() &&
            showCutText(static_cast<QWidget *>(watched), static_cast<QHelpEvent *>(event)))
            return true;
        if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
            auto *ke = static_cast<QKeyEvent *>(event);
            if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab) {
                auto *w = static_cast<QWidget *>(watched);
                if ((ke->modifiers() & Qt::ControlModifier) && ctrlTab(w, ke)) return true;
                // A text that is the only stop of its window keeps the focus
                // and types no Tab either.
                if (!(ke->modifiers() & Qt::ControlModifier) && isTabLeavingText(w) &&
                    !focusNeighbour(w, ke->key() == Qt::Key_Tab && !(ke->modifiers() & Qt::ShiftModifier)))
                    return true;
            }
        }
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *w = static_cast<QWidget *>(watched);
            if (w->isWindow() && !qobject_cast<QMenu *>(w) && !w->property(kRuled).toBool() &&
                (qobject_cast<QDialog *>(w) || qobject_cast<QMainWindow *>(w)))
                apply(w);
        }
        return false;
    }

private:
    static bool isTabLeavingText(const QWidget *w) {
        if (auto *plain = qobject_cast<const QPlainTextEdit *>(w)) return plain->tabChangesFocus();
        if (auto *rich = qobject_cast<const QTextEdit *>(w)) return rich->tabChangesFocus();
        return false;
    }

    // Ctrl+Tab types a Tab into a field where Tab is data, and leaves a grid
    // whose Tab walks its cells and every other multi-line field.
    static bool ctrlTab(QWidget *w, const QKeyEvent *ke) {
        auto *plain = qobject_cast<QPlainTextEdit *>(w);
        auto *rich = qobject_cast<QTextEdit *>(w);
        auto *view = qobject_cast<QAbstractItemView *>(w);
        if (!plain && !rich && !(view && view->tabKeyNavigation())) return false;
        const bool back = ke->key() == Qt::Key_Backtab || (ke->modifiers() & Qt::ShiftModifier);
        if (!back && w->property(kTabIsData).toBool()) {
            if (plain && !plain->isReadOnly()) plain->insertPlainText(QStringLiteral("\t"));
            if (rich && !rich->isReadOnly()) rich->insertPlainText(QStringLiteral("\t"));
            return true;
        }
        if (QWidget *next = focusNeighbour(w, !back)) next->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        return true;
    }

    static void apply(QWidget *w) {
        w->setProperty(kRuled, true);
        for (QPlainTextEdit *e : w->findChildren<QPlainTextEdit *>()) e->setTabChangesFocus(true);
        for (QTextEdit *e : w->findChildren<QTextEdit *>()) e->setTabChangesFocus(true);
        for (QRadioButton *r : w->findChildren<QRadioButton *>()) {
            QObject::connect(r, &QAbstractButton::toggled, r, [r] { fixOptionStops(r); });
            fixOptionStops(r);
        }
        // Qt's file dialog: the size, type and date of a file whole, the name
        // taking what is left.
        // (its detailed list is its one tree view).
        const QList<QTreeView *> lists =
            qobject_cast<QFileDialog *>(w) ? w->findChildren<QTreeView *>() : QList<QTreeView *>{};
        for (QTreeView *list : lists) {
            QHeaderView *header = list->header();
            header->setStretchLastSection(false);
            for (int c = 0; c < header->count(); ++c)
                header->setSectionResizeMode(c, c == 0 ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
        }
        wrapMenuBar(w);
        // The main window fits its commands to its size itself.
        if (!qobject_cast<QDialog *>(w)) return;
        const QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
        if (!screen) return;
        const QSize room = screen->availableGeometry().size() - kWindowFrame;
        QSize wanted = w->size().expandedTo(w->sizeHint());
        // Wide enough for its caption, which the window manager cuts in the middle otherwise.
        wanted.setWidth(qMax(wanted.width(), qMin(captionWidth(w), room.width())));
        scrollWhenLarger(w, room, qMin(wanted.width(), room.width()));
        if (w->layout()) w->layout()->activate();
        if (!(w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
            w->setMinimumSize(w->minimumSize().boundedTo(room));
            w->resize(fittedSize(w, wanted, room));
        }
    }
};

} // namespace

int comboWidthFor(const QComboBox *combo, const QString &text) {
    QStyleOptionComboBox opt;
    opt.initFrom(combo);
    const QSize size(combo->fontMetrics().horizontalAdvance(text), combo->fontMetrics().height());
    return combo->style()->sizeFromContents(QStyle::CT_ComboBox, &opt, size, combo).width();
}

void installWindowRules() {
    static WindowRules *rules = nullptr;
    if (rules || !qApp) return;
    rules = new WindowRules;
    rules->setParent(qApp);
    qApp->installEventFilter(rules);
}

} // namespace winutil
