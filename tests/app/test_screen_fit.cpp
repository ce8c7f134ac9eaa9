// Every window fits the screen it opens on and takes the keyboard, measured as a user meets it: the real program on
// the sample configuration under an X server with a window manager, at 1024 x 768 at 100, 125 and 200 % and at
// 1280 x 1024 at 200 %. The start-up opens the main window; administrator mode shows every command; each command
// opens its window, and each window opens the windows behind its own commands (the forms tree and the table window in
// input, "Свод" and "Ф47"), then the progress window, the choice of configurations and Qt's own dialogs through the
// real dialog seam. Every window shown is measured: its frame (as the window manager states it) lies on the screen, its
// caption is in words, every input lies whole inside it and is not squeezed, no menu is behind "»", Tab visits every
// visible enabled input and types no Tab into a text, Shift+Tab enters groups of options on the chosen one, Alt takes
// the keyboard to the menus and the chosen menu is drawn; a window scrolls its parts only where the screen cannot hold
// them. One screenshot per window and size is kept in screens/<size>/ beside the tests, with the table of what fitted
// (fit-table.txt).
#include "app/MainWindow.h"
#include "app/SmallDialogs.h"
#include "core/AdminMode.h"
#include "core/ProgressWindow.h"
#include "engine/LinksDb.h"
#include "engine/SharedState.h"
#include "forms/output/ShortNames.h"
#include "forms/table/TableExcel.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "reports/Summation.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "platform/Translations.h"
#include "support/Fixture.h"
#include "widgets/AbcComboBox.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStandardPaths>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QtMath>
#include <QWindow>
#include <QTreeWidget>
#include <QHeaderView>
#include <functional>
#include <map>
#include <memory>
#include <gtest/gtest.h>

namespace {

// ---- The measuring, run inside the X session --------------------------------------------------------------------

QString g_mode;             // the mode the windows now opened work in
QStringList g_faults;       // "window\tfault"
QStringList g_measured;     // windows measured, in order
QSet<QString> g_seen;       // window keys measured or explored already
QString g_screens;          // folder of the screenshots

void settle(int ms = 120) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

QString plain(QString text) {
    text = text.section(QLatin1Char('\t'), 0, 0);
    return text.remove(QLatin1Char('&')).trimmed();
}

void fault(const QString &window, const QString &what) { g_faults.append(window + QLatin1Char('\t') + what); }

QString describe(const QWidget *w) {
    QString text = plain(w->property("text").toString());
    if (text.isEmpty()) text = w->objectName();
    return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(w->metaObject()->className()), text);
}

// An input of the window a user reaches with the mouse and the keyboard.
bool isInput(const QWidget *w) {
    if (qobject_cast<const QMenuBar *>(w) || qobject_cast<const QScrollBar *>(w)) return false;
    if (w->objectName() == QLatin1String("qt_menubar_ext_button")) return false;
    if (w->parentWidget() && (qobject_cast<QComboBox *>(w->parentWidget()) ||
                              qobject_cast<QAbstractSpinBox *>(w->parentWidget())))
        return false;   // the line edit of a list or spin box
    for (const QWidget *p = w->parentWidget(); p; p = p->parentWidget())
        if (qobject_cast<const QAbstractItemView *>(p) || qobject_cast<const QMenuBar *>(p))
            return false;   // an editor open in a grid, the menu bar's own buttons
    // A read-only text is a display, not an input.
    if (auto *t = qobject_cast<const QTextEdit *>(w); t && t->isReadOnly()) return false;
    if (auto *t = qobject_cast<const QPlainTextEdit *>(w); t && t->isReadOnly()) return false;
    return qobject_cast<const QAbstractButton *>(w) || qobject_cast<const QLineEdit *>(w) ||
           qobject_cast<const QComboBox *>(w) || qobject_cast<const QAbstractSpinBox *>(w) ||
           qobject_cast<const QTextEdit *>(w) || qobject_cast<const QPlainTextEdit *>(w) ||
           qobject_cast<const QAbstractItemView *>(w);
}

QList<QWidget *> inputsOf(QWidget *window) {
    QList<QWidget *> out;
    for (QWidget *c : window->findChildren<QWidget *>())
        if (c->window() == window && c->isVisible() && isInput(c)) out.append(c);
    return out;
}

bool insideScrolledPart(const QWidget *w, const QWidget *window) {
    for (const QWidget *p = w->parentWidget(); p && p != window; p = p->parentWidget())
        if (qobject_cast<const QAbstractScrollArea *>(p)) return true;
    return false;
}

QString textOf(const QWidget *w) {
    if (auto *e = qobject_cast<const QLineEdit *>(w)) return e->text();
    if (auto *e = qobject_cast<const QTextEdit *>(w)) return e->toPlainText();
    if (auto *e = qobject_cast<const QPlainTextEdit *>(w)) return e->toPlainText();
    if (auto *c = qobject_cast<const QComboBox *>(w)) return c->currentText();
    return QString();
}

// The frame the window manager put around the window, in the window's pixels: the client area and the frame's
// extents as the manager states them (Qt's own reading of the margins may be stale while the manager reparents).
QRect managedFrame(QWidget *w) {
    QStringList parts;
    for (int i = 0; i < 20 && parts.size() != 4; ++i) {
        if (i > 0) settle(50);
        QProcess xprop;
        xprop.start("xprop", {"-id", QString::number(w->winId()), "_NET_FRAME_EXTENTS"});
        xprop.waitForFinished(5000);
        parts = QString::fromUtf8(xprop.readAllStandardOutput()).section('=', 1).split(',');
    }
    if (parts.size() != 4) return w->frameGeometry();
    const double dpr = w->devicePixelRatio();
    auto px = [&](int i) { return qCeil(parts[i].trimmed().toInt() / dpr); };
    return w->geometry().adjusted(-px(0), -px(2), px(1), px(3));
}

void checkFrame(QWidget *w, const QString &name) {
    // A scaled frame is rounded to whole logical pixels: one more is not past the screen.
    const int slack = w->devicePixelRatio() > 1 ? 1 : 0;
    const QRect screen = w->screen()->availableGeometry().adjusted(-slack, -slack, slack, slack);
    const QRect frame = managedFrame(w);
    if (!screen.contains(frame))
        fault(name, QStringLiteral("рамка %1,%2 %3x%4 за пределами экрана %5x%6")
                        .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())
                        .arg(screen.width()).arg(screen.height()));
}

void checkInputsWhole(QWidget *w, const QString &name) {
    for (QWidget *c : inputsOf(w)) {
        if (insideScrolledPart(c, w)) continue;
        // What of it is drawn: cut by the window or by any of its parents.
        QRect r(c->mapTo(w, QPoint(0, 0)), c->size());
        QRect shown = r.intersected(w->rect());
        for (QWidget *p = c->parentWidget(); p && p != w; p = p->parentWidget())
            shown = shown.intersected(QRect(p->mapTo(w, QPoint(0, 0)), p->size()));
        // The least height the layout owes it: its own minimum where set, else its hint.
        const int least = c->hasHeightForWidth()    ? c->heightForWidth(c->width())
                          : c->minimumHeight() > 0 ? c->minimumHeight()
                                                   : c->minimumSizeHint().height();
        if (c->height() < least - 1)
            fault(name, QStringLiteral("%1 сжат: высота %2 из %3").arg(describe(c)).arg(c->height()).arg(least));
        else if (shown != r)
            fault(name, QStringLiteral("%1 обрезан: %2x%3 из %4x%5")
                            .arg(describe(c)).arg(shown.width()).arg(shown.height()).arg(r.width()).arg(r.height()));
    }
}

// Every text of the window is whole: a label as tall as its wrapped lines need at its width and as wide as its
// unwrapped text, a list as wide as the item it shows.
void checkTextsWhole(QWidget *w, const QString &name) {
    for (QLabel *l : w->findChildren<QLabel *>()) {
        if (l->window() != w || !l->isVisible() || l->text().trimmed().isEmpty() || insideScrolledPart(l, w)) continue;
        if (!l->pixmap().isNull()) continue;
        const QString text = plain(l->text()).left(40);
        if (l->wordWrap()) {
            const int need = l->heightForWidth(l->width());
            if (l->height() < need - 1)
                fault(name, QStringLiteral("текст \"%1\" обрезан: высота %2 из %3").arg(text).arg(l->height()).arg(need));
        } else {
            const QSize need = l->minimumSizeHint();
            if (l->width() < need.width() - 1 || l->height() < need.height() - 1)
                fault(name, QStringLiteral("текст \"%1\" обрезан: %2x%3 из %4x%5")
                                .arg(text).arg(l->width()).arg(l->height()).arg(need.width()).arg(need.height()));
        }
        // Cut by a parent.
        QRect r(l->mapTo(w, QPoint(0, 0)), l->size());
        QRect shown = r.intersected(w->rect());
        for (QWidget *p = l->parentWidget(); p && p != w; p = p->parentWidget())
            shown = shown.intersected(QRect(p->mapTo(w, QPoint(0, 0)), p->size()));
        if (shown != r)
            fault(name, QStringLiteral("текст \"%1\" обрезан окном: %2x%3 из %4x%5")
                            .arg(text).arg(shown.width()).arg(shown.height()).arg(r.width()).arg(r.height()));
    }
    // The lists of the main window and of the start-up's choices (the windows that show a configuration's name).
    for (TabcLRComboBox *c : w->findChildren<TabcLRComboBox *>()) {
        if (c->window() != w || !c->isVisible() || c->isEditable() || c->currentText().isEmpty()) continue;
        // A list that cannot show a long name whole shortens it and gives it whole in its tip.
        if (c->toolTip() == c->currentText()) continue;
        QStyleOptionComboBox opt;
        opt.initFrom(c);
        const QSize text(c->fontMetrics().horizontalAdvance(c->currentText()), c->fontMetrics().height());
        const int need = c->style()->sizeFromContents(QStyle::CT_ComboBox, &opt, text, c).width();
        if (c->width() < need - 1)
            fault(name, QStringLiteral("список \"%1\" обрезан: ширина %2 из %3")
                            .arg(c->currentText().left(40)).arg(c->width()).arg(need));
    }
}

void checkMenus(QWidget *w, const QString &name) {
    for (QMenuBar *bar : w->findChildren<QMenuBar *>()) {
        if (!bar->isVisible() || bar->window() != w) continue;
        for (QAction *a : bar->actions()) {
            if (!a->isVisible() || a->isSeparator()) continue;
            const QRect g = bar->actionGeometry(a);
            if (g.isEmpty() || !bar->rect().contains(g))
                fault(name, QStringLiteral("меню \"%1\" за \"»\"").arg(plain(a->text())));
        }
    }
}

// Alt takes the keyboard to the menu bar, and the menu it chose is drawn so; Esc gives the keyboard back.
void checkMenuKeyboard(QWidget *w, const QString &name) {
    QMenuBar *bar = nullptr;
    for (QMenuBar *b : w->findChildren<QMenuBar *>())
        if (b->window() == w && b->isVisible() && !bar) bar = b;
    QWidget *from = QApplication::focusWidget();
    if (!bar || !from || from->window() != w) return;
    const QImage before = bar->grab().toImage();
    // Six times at most, waiting longer each time: the window manager's late word on which window is active (later
    // still on a busy machine) may take the menus' keyboard away.
    QMenuBar *now = nullptr;
    for (int attempt = 0; attempt < 6 && !(now && now->activeAction()); ++attempt) {
        if (attempt > 0) {
            QApplication::setActiveWindow(w);
            from->setFocus(Qt::OtherFocusReason);
            settle(200 * attempt);
        }
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : from, Qt::Key_Alt);
        settle(20 + 30 * attempt);
        now = qobject_cast<QMenuBar *>(QApplication::focusWidget());
    }
    if (!now || !now->activeAction()) {
        fault(name, QStringLiteral("Alt не ведет в меню"));
        return;
    }
    if (now == bar && bar->grab().toImage() == before)
        fault(name, QStringLiteral("выбранное клавишей Alt меню \"%1\" не видно").arg(plain(now->activeAction()->text())));
    QTest::keyClick(now, Qt::Key_Escape);
    settle(20);
}

// Walks the focus chain with Tab (Ctrl+Tab where Tab stays in a grid or a text as data).
void checkKeyboard(QWidget *w, const QString &name) {
    const QList<QWidget *> inputs = inputsOf(w);
    QList<QWidget *> wanted;
    for (QWidget *c : inputs)
        if (c->isEnabled() && c->focusPolicy() != Qt::NoFocus) wanted.append(c);
    if (wanted.isEmpty()) return;
    QHash<QWidget *, QString> texts;
    for (QWidget *c : inputs) texts.insert(c, textOf(c));
    w->activateWindow();
    w->raise();
    // The window takes the keyboard whatever the window manager thinks of focus stealing.
    QApplication::setActiveWindow(w);
    settle(60);
    if (!QApplication::focusWidget() || QApplication::focusWidget()->window() != w) {
        QWidget *first = wanted.first();
        first->setFocus(Qt::TabFocusReason);
        settle(20);
    }
    QSet<QWidget *> visited;
    QWidget *start = QApplication::focusWidget();
    QWidget *current = start;
    for (int step = 0; step < wanted.size() * 3 + 10 && current && current->window() == w; ++step) {
        visited.insert(current);
        QTest::keyClick(current, Qt::Key_Tab);
        settle(5);
        QWidget *next = QApplication::focusWidget();
        if (next == current) {
            QTest::keyClick(current, Qt::Key_Tab, Qt::ControlModifier);
            settle(5);
            next = QApplication::focusWidget();
        }
        for (QWidget *c : inputs) {
            const QString now = textOf(c);
            if (now.count(QLatin1Char('\t')) > texts.value(c).count(QLatin1Char('\t')))
                fault(name, QStringLiteral("Tab вписан в %1").arg(describe(c)));
            texts[c] = now;
        }
        if (next == current) {
            // The one input of the window keeps the focus; any other stays.
            bool allVisited = true;
            for (QWidget *c : wanted) allVisited = allVisited && visited.contains(c);
            if (!allVisited)
                fault(name, QStringLiteral("Tab и Ctrl+Tab не уходят из %1").arg(describe(current)));
            break;
        }
        current = next;
        if (current == start) break;
    }
    // Shift+Tab the other way round: a group of options is entered on its chosen one.
    auto enteredOnUnchecked = [](QWidget *f) {
        auto *radio = qobject_cast<QRadioButton *>(f);
        if (!radio || radio->isChecked()) return false;
        for (QRadioButton *other : radio->parentWidget()->findChildren<QRadioButton *>(Qt::FindDirectChildrenOnly))
            if (other->isChecked()) return true;
        return false;
    };
    current = QApplication::focusWidget();
    for (int step = 0; step < wanted.size() * 2 + 4 && current && current->window() == w; ++step) {
        QTest::keyClick(current, Qt::Key_Backtab, Qt::ShiftModifier);
        settle(5);
        QWidget *prev = QApplication::focusWidget();
        if (prev == current) break;
        if (enteredOnUnchecked(prev)) {
            fault(name, QStringLiteral("Shift+Tab входит в группу на невыбранном %1").arg(describe(prev)));
            break;
        }
        current = prev;
    }
    if (!QApplication::activeModalWidget() && QApplication::focusWidget() &&
        QApplication::focusWidget()->window() != w)
        fault(name, QStringLiteral("Tab уводит из окна"));
    for (QWidget *c : wanted) {
        if (visited.contains(c)) continue;
        // A group of radio buttons is entered on its checked one.
        if (auto *radio = qobject_cast<QRadioButton *>(c)) {
            bool groupVisited = false;
            for (QWidget *v : visited)
                if (qobject_cast<QRadioButton *>(v) && v->parentWidget() == radio->parentWidget()) groupVisited = true;
            if (groupVisited) continue;
        }
        fault(name, QStringLiteral("%1 не достигается клавишей Tab").arg(describe(c)));
    }
}

QString fileName(QString name) {
    static const QString bad = QStringLiteral("/\\:*?\"<>|, ");
    for (QChar &c : name)
        if (bad.contains(c)) c = QLatin1Char('_');
    return name;
}

void measure(QWidget *w, const QString &name) {
    // Until the window manager has framed and placed the window.
    auto framed = [w] { return !w->size().isEmpty() && w->windowHandle()->isExposed(); };
    for (int i = 0; i < 60 && !framed(); ++i) settle(50);
    settle(200);
    g_measured.append(name);
    const int before = int(g_faults.size());
    checkFrame(w, name);
    // A caption in words, not a name of the code.
    static const QRegularExpression codeName(QStringLiteral("^[A-Za-z0-9_]*$"));
    if (codeName.match(w->windowTitle()).hasMatch() && w->windowTitle() != QApplication::applicationDisplayName())
        fault(name, QStringLiteral("заголовок окна \"%1\"").arg(w->windowTitle()));
    checkInputsWhole(w, name);
    checkTextsWhole(w, name);
    checkMenus(w, name);
    if (QScreen *s = w->screen()) s->grabWindow(0).save(g_screens + QLatin1Char('/') + fileName(name) + ".png");
    checkKeyboard(w, name);
    checkMenuKeyboard(w, name);
    // A window the screen holds keeps its layout; where it does not, its parts scroll.
    const bool scrolls = w->findChild<QScrollArea *>(QStringLiteral("windowScroll"), Qt::FindDirectChildrenOnly);
    if (scrolls && w->devicePixelRatio() == 1)
        fault(name, QStringLiteral("прокручивается на экране, где помещается при 100 %"));
    // A window that scrolls its parts takes most of the screen to show them.
    const QSize room = w->screen()->availableGeometry().size();
    const auto *scroll = w->findChild<QScrollArea *>(QStringLiteral("windowScroll"), Qt::FindDirectChildrenOnly);
    const bool across = scroll && scroll->horizontalScrollBar()->maximum() > 0;
    const bool down = scroll && scroll->verticalScrollBar()->maximum() > 0;
    if (scrolls && ((across && w->width() < room.width() * 6 / 10) || (down && w->height() < room.height() * 6 / 10)))
        fault(name, QStringLiteral("прокручивается в окне %1x%2 на экране %3x%4")
                        .arg(w->width()).arg(w->height()).arg(room.width()).arg(room.height()));
    std::printf("WINDOW\t%s\t%d%s\n", name.toUtf8().constData(), int(g_faults.size()) - before,
                scrolls ? " scrolls" : "");
    std::fflush(stdout);
}

// ---- Opening the windows behind a window's commands ---------------------------------------------------------------

QAction *menuAction(QWidget *w, const QStringList &path) {
    QList<QAction *> actions;
    for (QMenuBar *bar : w->findChildren<QMenuBar *>())
        if (bar->window() == w) actions += bar->actions();
    QAction *found = nullptr;
    for (const QString &step : path) {
        found = nullptr;
        for (QAction *a : actions)
            if (plain(a->text()) == step) found = a;
        if (!found) return nullptr;
        actions = found->menu() ? found->menu()->actions() : QList<QAction *>{};
    }
    return found;
}

void trigger(QWidget *w, const QStringList &path) {
    QAction *a = menuAction(w, path);
    if (!a || !a->isEnabled()) {
        fault(w->windowTitle(), QStringLiteral("команда \"%1\" недоступна для проверки").arg(path.join('/')));
        return;
    }
    a->trigger();
    settle(20);
}

void click(QWidget *w, const QString &caption) {
    for (QAbstractButton *b : w->findChildren<QAbstractButton *>())
        if (b->window() == w && b->isVisible() && b->isEnabled() && plain(b->text()) == caption) {
            b->click();
            settle(20);
            return;
        }
    fault(w->windowTitle(), QStringLiteral("кнопка \"%1\" недоступна для проверки").arg(caption));
}

// The first node without children of the window's first tree, made current.
void pickLeaf(QWidget *w, int depth = -1) {
    for (QTreeWidget *tree : w->findChildren<QTreeWidget *>()) {
        if (tree->window() != w || !tree->isVisible()) continue;
        std::function<QTreeWidgetItem *(QTreeWidgetItem *, int)> leaf = [&](QTreeWidgetItem *n,
                                                                            int level) -> QTreeWidgetItem * {
            if ((depth < 0 && n->childCount() == 0 && n->parent()) || level == depth) return n;
            for (int i = 0; i < n->childCount(); ++i)
                if (QTreeWidgetItem *l = leaf(n->child(i), level + 1)) return l;
            return nullptr;
        };
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (QTreeWidgetItem *n = leaf(tree->topLevelItem(i), 0)) {
                tree->setCurrentItem(n);
                settle(20);
                return;
            }
    }
}

// Runs the first of the commands that the window shows and enables.
bool runAny(QWidget *w, const QList<QStringList> &paths) {
    for (const QStringList &path : paths) {
        QAction *a = menuAction(w, path);
        if (a && a->isVisible() && a->isEnabled()) {
            a->trigger();
            settle(20);
            return true;
        }
    }
    return false;
}

// Which windows a window opens, by the class of the window; each window class is explored once per mode.
using Explore = std::function<void(QWidget *)>;
const std::map<QString, Explore> &explorers() {
    static const std::map<QString, Explore> map = {
        {"TAdmForm", [](QWidget *w) {
             pickLeaf(w);
             if (g_mode == QStringLiteral("ввод")) {
                 trigger(w, {"Формы"});
                 trigger(w, {"Справка", "По базе"});
                 trigger(w, {"Подгрузить", "Выбор форм"});
                 QTest::keyClick(w, Qt::Key_F9);   // shows "Короткие названия"
                 trigger(w, {"Короткие названия"});
             } else {
                 trigger(w, {"Корректировать"});
             }
         }},
        {"TContrls", [](QWidget *w) {
             click(w, QStringLiteral("Поиск всех таблиц с расхождениями"));
             click(w, QStringLiteral("Загрузить"));   // the control-file loader
         }},
        {"TFormList", [](QWidget *w) {
             pickLeaf(w);
             trigger(w, {"Таблица"});
             if (g_mode == QStringLiteral("ввод")) trigger(w, {"Печать формы", "Для отчета"});
         }},
        {"TVTable", [](QWidget *w) {
             if (g_mode != QStringLiteral("ввод")) return;
             runAny(w, {{"Настройка", "Ячейка"}});
             static_cast<TVTable *>(w)->editTitle(0);   // the header editor
         }},
        {"TRepList", [](QWidget *w) {
             pickLeaf(w);
             runAny(w, {{"Просмотр"}, {"Разрезы"}});
             if (g_mode == QStringLiteral("Свод")) {
                 runAny(w, {{"Групповой пересчет"}});
                 runAny(w, {{"Входящие учреждения"}});
                 runAny(w, {{"Отчет", "Добавить"}});
             }
             runAny(w, {{"Население"}});
             runAny(w, {{"Входящие отчеты"}});
             runAny(w, {{"Показатели"}});   // the indicator tree for viewing
         }},
        {"TFormL", [](QWidget *w) {
             runAny(w, {{"Таблицы"}});
             runAny(w, {{"Корректировать"}});
             runAny(w, {{"Импортировать из doc*"}, {"Импортировать из doc"}});
         }},
        {"TFTabs", [](QWidget *w) { runAny(w, {{"Корректировать"}}); }},
        {"TMISetup", [](QWidget *w) {
             pickLeaf(w);
             runAny(w, {{"Состав"}});
             runAny(w, {{"Показатели"}});
         }},
    };
    return map;
}

// Shows each window the program opens modally, measures it and opens the windows behind it; then closes it.
class MeasuringDialogs : public DialogProvider {
public:
    QStringList messages;
    void message(QWidget *, const QString &text, MsgKind) override { messages.append(text); }
    bool question(QWidget *, const QString &, const QString &) override { return false; }
    int questionCancel(QWidget *, const QString &, const QString &) override { return -1; }
    std::optional<QString> inputText(QWidget *, const QString &, const QString &, const QString &) override {
        return std::nullopt;
    }
    QString openFile(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QStringList openFiles(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString saveFile(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString chooseFolder(QWidget *, const QString &, const QString &) override { return {}; }
    bool openDocument(const QString &) override { return true; }
    int execModal(QDialog *dialog) override {
        // A plain dialog goes by its name.
        QString cls = QString::fromLatin1(dialog->metaObject()->className());
        if (cls == QLatin1String("QDialog") && !dialog->objectName().isEmpty()) cls = dialog->objectName();
        const QString key = g_mode + QLatin1Char(' ') + cls;
        if (g_seen.contains(key)) return QDialog::Rejected;
        g_seen.insert(key);
        const QString name = g_mode + QLatin1Char(' ') + cls;
        dialog->show();
        (void)QTest::qWaitForWindowExposed(dialog, 3000);
        measure(dialog, name);
        const auto it = explorers().find(cls);
        if (it != explorers().end()) it->second(dialog);
        dialog->hide();
        settle(20);
        return QDialog::Rejected;
    }
};

} // namespace

// Run by ScreenFit.EveryWindowFitsUnderAWindowManager inside its X session.
TEST(ScreenFitSession, DISABLED_OpenAndMeasureEveryWindow) {
    g_screens = qEnvironmentVariable("KELVANA_FIT_SCREENS");
    if (g_screens.isEmpty()) GTEST_SKIP() << "runs in its X session only";
    QDir().mkpath(g_screens);
    // As the program starts.
    QApplication::setApplicationName(QStringLiteral("Kelvana"));
    installQtTranslations();
    SampleFixture fx(true);
    // Names of the length users give them: the configuration's, the institutions' and the forms'.
    const QString longName = QStringLiteral("Министерство здравоохранения Северо-Западного округа, архив 2019-2024 гг");
    const QString configName = longName.left(74) + QStringLiteral(" (кфг)");
    IniFile(fx.settingsFile()).eraseSection(QStringLiteral("Конфигурации"));
    sample::registerConfiguration(fx.settingsFile(), configName, fx.configFolder(), fx.year());
    db::exec(db::kMain, QStringLiteral("update administration set unit = substr(unit || ?, 1, 80)"),
             {QStringLiteral(" - государственное бюджетное учреждение здравоохранения области")});
    db::exec(db::kMain, QStringLiteral("update forms set decipher = substr(decipher || ?, 1, 80)"),
             {QStringLiteral(" - сведения о медицинской организации и ее подразделениях за отчетный год")});
    // The matching window works on the links database beside the program.
    links::createLinksDatabase(paths::programFolder() + "Links.mdb");
    MeasuringDialogs dialogs;
    setDialogs(&dialogs);
    {
        // The measuring sees a window past the screen (a plain widget: the window rules do not touch it).
        QWidget tooLarge;
        tooLarge.setFixedSize(tooLarge.screen()->availableGeometry().size() + QSize(200, 200));
        tooLarge.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&tooLarge, 5000));
        settle(300);
        checkFrame(&tooLarge, QStringLiteral("проверка"));
        ASSERT_EQ(g_faults.size(), 1) << "a window past the screen is not seen";
        g_faults.clear();
    }
    {
        TMain main;
        ASSERT_TRUE(main.startedUp());
        main.showOnScreen();
        (void)QTest::qWaitForWindowExposed(&main, 5000);
        settle(400);
        // The main window fits its type to the screen; its commands scroll only where even the smallest type
        // does not fit (1024 x 768 at 200 %).
        const bool mayScroll = qEnvironmentVariableIsSet("KELVANA_FIT_MAIN_SCROLLS");
        auto checkMainScroll = [&](const QString &name) {
            if (!mayScroll && (main.backgroundArea()->verticalScrollBar()->maximum() > 0 ||
                               main.backgroundArea()->horizontalScrollBar()->maximum() > 0))
                fault(name, QStringLiteral("команды прокручиваются"));
        };
        g_mode = QStringLiteral("главное");
        measure(&main, QStringLiteral("Главное окно"));
        checkMainScroll(QStringLiteral("Главное окно"));
        AdminMode::instance().setOn(true);
        settle(200);
        measure(&main, QStringLiteral("Главное окно, администратор"));
        checkMainScroll(QStringLiteral("Главное окно, администратор"));
        const struct {
            const char *mode;
            void (TMain::*run)();
        } commands[] = {
            {"структура", &TMain::editTerritory},
            {"типы", &TMain::editInstitutionTypes},
            {"каталог", &TMain::openReportForms},
            {"контроль", &TMain::editControls},
            {"сопоставление", &TMain::matchControls},
            {"обновления", &TMain::generateUpdatePackages},
            {"уровни", &TMain::sumLevels},
            {"ввод", &TMain::enterForms},
            {"Свод", &TMain::openSummaryReports},
            {"Ф47", &TMain::openForm47},
            {"выгрузка", &TMain::exportForMinistry},
            {"территории", &TMain::indicatorsByTerritory},
            {"типы ЛПУ", &TMain::indicatorsByTypes},
            {"учреждения", &TMain::indicatorsByInstitution},
            {"показатели", &TMain::editIndicatorMethod},
            {"о программе", &TMain::showAbout},
        };
        for (const auto &c : commands) {
            g_mode = QString::fromUtf8(c.mode);
            (main.*c.run)();
            settle(20);
        }
        g_mode = QStringLiteral("прочие");
        {
            ProgressRun run(QStringLiteral("Пересчет отчета"));
            run.window().SetDetailText(QStringLiteral("Ф30 - Сведения о медицинской организации, таблица (1000)"));
            measure(&run.window(), QStringLiteral("прочие TProgress"));
        }
        {
            // The start-up's choice of another configuration, of a configuration whose name and folder are long.
            const QString folder = QStringLiteral("/home/statistika/Отчеты медицинских организаций/") + longName;
            TSelectConfig choice(QStringLiteral("Конфигурация \"%1\" не открыта:\nПапка конфигурации \"%1\" не "
                                                "найдена: %2.\nПроверьте, доступен ли диск или сетевая папка, или "
                                                "присоедините конфигурацию заново.\n\nВыберите другую конфигурацию.")
                                     .arg(configName, folder),
                                 {configName, QStringLiteral("Район")}, &main);
            execModal(&choice);
        }
        // The attach dialog, the year choice, and the small windows of the work windows filled with long names.
        main.attachDatabase();
        main.configuration().ChooseYear(QStringLiteral("Выберите отчетный год"));
        {
            TForm4 books(&main);
            books.setBooks({longName + QStringLiteral(".xlsx"), QStringLiteral("Книга1")});
            execModal(&books);
        }
        {
            TForm6 shortName(&main);
            shortName.setInstitutionText(longName);
            execModal(&shortName);
        }
        {
            TSFRF source(&main);
            source.addLevel(longName, 1);
            source.addLevel(QStringLiteral("1 квартал"), 2);
            execModal(&source);
        }
        ShowAdminPasswordPrompt(&main);
        // Qt's own file dialogs, input and message boxes, shown by the real dialog seam.
        setDialogs(nullptr);
        QTimer closer;
        QString standard;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!modal || !modal->isVisible()) return;
            closer.stop();
            measure(modal, standard);
            // The file list shows its size, type and date whole.
            if (auto *files = modal->findChild<QTreeView *>(QStringLiteral("treeView"))) {
                settle(300);   // the folder is read in the background
                for (int c = 1; c < files->header()->count(); ++c)
                    if (!files->header()->isSectionHidden(c) &&
                        files->header()->sectionSize(c) < static_cast<QAbstractItemView *>(files)->sizeHintForColumn(c))
                        fault(standard, QStringLiteral("столбец %1 списка файлов обрезан: %2 из %3")
                                            .arg(c)
                                            .arg(files->header()->sectionSize(c))
                                            .arg(static_cast<QAbstractItemView *>(files)->sizeHintForColumn(c)));
            }
            modal->reject();
        });
        standard = QStringLiteral("стандартные: открытие файла");
        closer.start(100);
        ::dialogs().openFile(&main, QStringLiteral("Импорт"), fx.configFolder(), QStringLiteral("Формы (*.frs)"));
        standard = QStringLiteral("стандартные: сохранение файла");
        closer.start(100);
        ::dialogs().saveFile(&main, QStringLiteral("Сохранить"), fx.configFolder() + "Ф30.xlsx",
                           QStringLiteral("Книги Excel (*.xlsx)"));
        standard = QStringLiteral("стандартные: ввод текста");
        closer.start(100);
        ::dialogs().inputText(&main, QStringLiteral("Новый подотчет"), QStringLiteral("Название подотчета:"),
                              QString());
        standard = QStringLiteral("стандартные: сообщение");
        closer.start(100);
        showError(QStringLiteral("Не удалось записать файл %1: диск переполнен. Освободите место на диске и "
                                 "повторите запись.").arg(fx.configFolder() + "Ф30.xlsx"), &main);
        setDialogs(&dialogs);
        AdminMode::instance().setOn(false);
    }
    setDialogs(nullptr);
    for (const QString &f : g_faults) std::printf("FAULT\t%s\n", f.toUtf8().constData());
    for (const QString &m : dialogs.messages) std::printf("MESSAGE\t%s\n", m.toUtf8().constData());
    std::fflush(stdout);
}

// ---- The X session per size -----------------------------------------------------------------------------------------

namespace {

struct ScreenSize {
    const char *label;
    const char *geometry;
    const char *scale;
};

struct Session {
    ScreenSize size;
    std::unique_ptr<QProcess> server, wm, child;
    QString display;
    QString output;
};

bool waitForWindowManager(const QString &display) {
    for (int i = 0; i < 100; ++i) {
        QProcess xprop;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        xprop.setProcessEnvironment(env);
        xprop.start("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
        xprop.waitForFinished(5000);
        if (QString::fromUtf8(xprop.readAllStandardOutput()).contains("window id")) return true;
        QThread::msleep(100);
    }
    return false;
}

} // namespace

TEST(ScreenFit, EveryWindowFitsUnderAWindowManager) {
    for (const char *tool : {"Xvfb", "openbox", "xprop"})
        ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty())
            << tool << " is missing: scripts/deps.sh installs it";
    const QString artefacts = QDir::currentPath() + "/screens";
    QDir(artefacts).removeRecursively();
    const ScreenSize sizes[] = {{"1024x768@100", "1024x768x24", "1"},
                                {"1024x768@125", "1024x768x24", "1.25"},
                                {"1024x768@200", "1024x768x24", "2"},
                                {"1280x1024@200", "1280x1024x24", "2"}};
    std::vector<Session> sessions;
    for (const ScreenSize &s : sizes) {
        Session session;
        session.size = s;
        // The server picks a free display and writes its number.
        session.server = std::make_unique<QProcess>();
        session.server->start("Xvfb", {"-displayfd", "1", "-screen", "0", s.geometry, "-nolisten", "tcp"});
        ASSERT_TRUE(session.server->waitForStarted(5000));
        ASSERT_TRUE(session.server->waitForReadyRead(10000)) << "Xvfb did not start";
        session.display = ":" + QString::fromUtf8(session.server->readLine()).trimmed();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", session.display);
        session.wm = std::make_unique<QProcess>();
        session.wm->setProcessEnvironment(env);
        session.wm->start("openbox", {"--sm-disable"});
        ASSERT_TRUE(session.wm->waitForStarted(5000));
        sessions.push_back(std::move(session));
    }
    for (Session &session : sessions) {
        ASSERT_TRUE(waitForWindowManager(session.display)) << "openbox did not start on " << session.display.toStdString();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", session.display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("QT_SCALE_FACTOR", session.size.scale);
        env.insert("QT_AUTO_SCREEN_SCALE_FACTOR", "0");
        env.insert("QT_ENABLE_HIGHDPI_SCALING", "1");
        env.insert("KELVANA_FIT_SCREENS", artefacts + "/" + session.size.label);
        if (QByteArray(session.size.label) == "1024x768@200") env.insert("KELVANA_FIT_MAIN_SCROLLS", "1");
        session.child = std::make_unique<QProcess>();
        session.child->setProcessEnvironment(env);
        session.child->setProcessChannelMode(QProcess::MergedChannels);
        session.child->start(QCoreApplication::applicationFilePath(),
                             {"--gtest_filter=ScreenFitSession.*", "--gtest_also_run_disabled_tests"});
        ASSERT_TRUE(session.child->waitForStarted(5000));
    }
    QStringList table, faults;
    std::map<QString, QSet<QString>> measuredAt;   // size -> windows
    for (Session &session : sessions) {
        const bool finished = session.child->waitForFinished(240000);
        session.output = QString::fromUtf8(session.child->readAll());
        EXPECT_TRUE(finished) << session.size.label << " did not finish";
        EXPECT_TRUE(session.output.contains("[  PASSED  ] 1 test")) << session.output.toStdString();
        for (const QString &line : session.output.split('\n')) {
            const QStringList f = line.split('\t');
            if (f.size() == 3 && f[0] == "WINDOW") {
                const QString count = f[2].section(' ', 0, 0), scrolls = f[2].section(' ', 1);
                measuredAt[QString::fromLatin1(session.size.label)].insert(f[1]);
                table.append(QStringLiteral("%1\t%2\t%3%4").arg(session.size.label, f[1],
                                                                count == "0" ? "fits" : count + " fault(s)",
                                                                scrolls.isEmpty() ? "" : ", scrolls"));
            }
            else if (f.size() == 3 && f[0] == "FAULT")
                faults.append(QStringLiteral("%1: %2: %3").arg(session.size.label, f[1], f[2]));
        }
        // Ended as a user would end them, so that the server removes its lock and socket.
        for (QProcess *p : {session.child.get(), session.wm.get(), session.server.get()}) {
            if (p->state() == QProcess::NotRunning) continue;
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
    }
    QFile out(artefacts + "/fit-table.txt");
    if (out.open(QIODevice::WriteOnly))
        out.write((table.join('\n') + "\n\n" + faults.join('\n') + '\n').toUtf8());
    // Every window at every size: none left out where another size reached it.
    QSet<QString> all;
    for (const auto &[size, windows] : measuredAt) all |= windows;
    EXPECT_GE(all.size(), 50) << "too few windows measured";
    for (const ScreenSize &s : sizes) {
        const QSet<QString> missing = all - measuredAt[QString::fromLatin1(s.label)];
        EXPECT_TRUE(missing.isEmpty()) << s.label << " did not open: " << QStringList(missing.values()).join(", ").toStdString();
    }
    EXPECT_TRUE(faults.isEmpty()) << faults.size() << " fault(s):\n" << faults.join('\n').toStdString();
}
