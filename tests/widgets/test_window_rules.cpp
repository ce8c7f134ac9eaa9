// The rules every window follows: menus wrap into rows instead of hiding behind "»" and are reached and drawn by
// keyboard, Tab leaves a one-purpose text and Ctrl+Tab a grid, options are entered on the chosen one, a window larger
// than the screen scrolls its parts, a text a list cuts shows whole in its tip; rows that wrap; the custom check box
// draws its focus.
#include "widgets/AbcCheckBox.h"
#include "widgets/FlowLayout.h"
#include "widgets/WindowLayout.h"
#include "widgets/WindowRules.h"
#include "support/ToolTips.h"

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QScrollBar>
#include <QTreeWidget>
#include <QDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QHBoxLayout>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTableWidget>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

QList<QMenuBar *> barsOf(QWidget *w) { return w->findChildren<QMenuBar *>(); }

// Every shown menu of the window, in the order of the rows, and whether each lies whole in its bar.
QStringList shownMenus(QWidget *w, bool &allInside) {
    QStringList out;
    allInside = true;
    for (QMenuBar *bar : barsOf(w)) {
        if (!bar->isVisible()) continue;
        for (QAction *a : bar->actions()) {
            if (!a->isVisible()) continue;
            out.append(a->text());
            const QRect g = bar->actionGeometry(a);
            allInside = allInside && !g.isEmpty() && bar->rect().contains(g);
        }
    }
    return out;
}

} // namespace

TEST(WindowRules, MenusWrapIntoRowsInTheirOrderAndFollowLaterChanges) {
    winutil::installWindowRules();
    QDialog d;
    auto *bar = new QMenuBar(&d);
    QStringList names;
    for (int i = 0; i < 14; ++i) names << QStringLiteral("Команда номер %1").arg(i + 1);
    QList<QAction *> actions;
    for (const QString &n : names) actions << bar->addAction(n);
    auto *box = new QVBoxLayout(&d);
    box->setMenuBar(bar);
    box->addWidget(new QLineEdit(&d));
    d.resize(420, 300);
    d.show();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    bool inside = false;
    EXPECT_EQ(shownMenus(&d, inside), names);
    EXPECT_TRUE(inside);
    EXPECT_GT(barsOf(&d).size(), 2);
    // The line edit lies below every row of menus.
    const QRect lastBar = barsOf(&d).last()->geometry();
    EXPECT_GE(d.findChild<QLineEdit *>()->y(), barsOf(&d).last()->mapTo(&d, QPoint(0, lastBar.height())).y());

    // A menu hidden and shown again, and a wider window: still every menu whole, in order.
    actions[3]->setVisible(false);
    QApplication::processEvents();
    names.removeAt(3);
    EXPECT_EQ(shownMenus(&d, inside), names);
    actions[3]->setVisible(true);
    d.resize(800, 300);
    QApplication::processEvents();
    names.insert(3, actions[3]->text());
    EXPECT_EQ(shownMenus(&d, inside), names);
    EXPECT_TRUE(inside);
}

TEST(WindowRules, TabLeavesTextsAndCtrlTabLeavesGrids) {
    winutil::installWindowRules();
    QDialog d;
    auto *text = new QPlainTextEdit(&d);
    auto *data = new QPlainTextEdit(&d);
    data->setProperty(winutil::kTabIsData, true);
    auto *grid = new QTableWidget(3, 3, &d);
    auto *ok = new QPushButton(QStringLiteral("OK"), &d);
    auto *box = new QVBoxLayout(&d);
    for (QWidget *w : QList<QWidget *>{text, data, grid, ok}) box->addWidget(w);
    d.show();
    QApplication::processEvents();
    QApplication::setActiveWindow(&d);
    // Tab and Ctrl+Tab leave a one-purpose text and type nothing into it.
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), data);
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), data);
    EXPECT_EQ(text->toPlainText(), QString());
    // Where a Tab is data, Tab leaves and Ctrl+Tab types it.
    QTest::keyClick(data, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(data->toPlainText(), QStringLiteral("\t"));
    EXPECT_EQ(QApplication::focusWidget(), data);
    QTest::keyClick(data, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), grid);
    grid->setFocus();
    grid->setCurrentCell(0, 0);
    QTest::keyClick(grid, Qt::Key_Tab);
    EXPECT_EQ(grid->currentColumn(), 1);   // Tab walks the cells
    QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), ok);
    EXPECT_EQ(grid->currentColumn(), 1);
}

// A text that is the window's only stop keeps the focus and takes no Tab.
TEST(WindowRules, TheOnlyTextOfAWindowTakesNoTab) {
    winutil::installWindowRules();
    QDialog d;
    auto *text = new QPlainTextEdit(QStringLiteral("Формулы"), &d);
    (new QVBoxLayout(&d))->addWidget(text);
    d.show();
    QApplication::setActiveWindow(&d);
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Tab);
    QTest::keyClick(text, Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(text, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(text->toPlainText(), QStringLiteral("Формулы"));
    EXPECT_EQ(QApplication::focusWidget(), text);
}

// Tab and Shift+Tab enter a group of options on its chosen one, whichever way they come.
TEST(WindowRules, OptionsAreEnteredOnTheChosenOne) {
    winutil::installWindowRules();
    QDialog d;
    auto *before = new QLineEdit(&d);
    auto *group = new QWidget(&d);
    auto *row = new QHBoxLayout(group);
    QList<QRadioButton *> options;
    for (const char *t : {"=", "<>", ">"}) {
        options << new QRadioButton(QString::fromUtf8(t), group);
        row->addWidget(options.last());
    }
    options[1]->setChecked(true);
    auto *after = new QLineEdit(&d);
    auto *box = new QVBoxLayout(&d);
    for (QWidget *w : QList<QWidget *>{before, group, after}) box->addWidget(w);
    d.show();
    QApplication::setActiveWindow(&d);
    after->setFocus();
    QTest::keyClick(after, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), options[1]);
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), options[1]);
    QTest::keyClick(options[1], Qt::Key_Right);   // the arrows choose
    EXPECT_TRUE(options[2]->isChecked());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), after);
    QTest::keyClick(after, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), options[2]);
}

TEST(WindowRules, ADialogLargerThanTheScreenScrollsItsParts) {
    winutil::installWindowRules();
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size() - winutil::kWindowFrame;
    QDialog d;
    auto *box = new QVBoxLayout(&d);
    auto *wide = new QPushButton(QStringLiteral("Широкая"), &d);
    wide->setMinimumSize(room.width() + 300, 40);
    box->addWidget(wide);
    d.show();
    QApplication::processEvents();
    EXPECT_TRUE(d.findChild<QScrollArea *>());
    EXPECT_LE(d.width(), room.width());
    EXPECT_LE(d.height(), room.height());
    // A dialog that fits keeps its layout as made.
    QDialog small;
    auto *sbox = new QVBoxLayout(&small);
    sbox->addWidget(new QPushButton(QStringLiteral("OK"), &small));
    small.show();
    QApplication::processEvents();
    EXPECT_FALSE(small.findChild<QScrollArea *>());
}

// A dialog narrower than its caption would have it cut in the middle by the window manager ("Выберите...тный год").
TEST(WindowRules, ADialogIsAsWideAsItsCaptionWithinTheScreen) {
    winutil::installWindowRules();
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size() - winutil::kWindowFrame;
    QFont bold = QApplication::font();
    bold.setBold(true);
    const QFontMetrics fm(bold);
    const auto opened = [](const QString &caption) {
        auto *d = new QDialog;
        d->setWindowTitle(caption);
        auto *box = new QVBoxLayout(d);
        box->addWidget(new QPushButton(QStringLiteral("OK"), d));
        d->show();
        QApplication::processEvents();
        return d;
    };
    const QString caption = QStringLiteral("Выберите отчетный год");
    std::unique_ptr<QDialog> d(opened(caption));
    EXPECT_GT(d->width(), fm.horizontalAdvance(caption) + 3 * fm.height());
    // A caption longer than the screen is wide takes the screen's width, no more.
    std::unique_ptr<QDialog> wide(opened(caption.repeated(40)));
    EXPECT_LE(wide->width(), room.width());
    EXPECT_GE(wide->width(), room.width() - 1);
}

// The custom check box draws its focus like a standard one.
TEST(CheckBox, DrawsItsFocus) {
    QDialog d;
    auto *box = new TabcCheckBox(QStringLiteral("Выбрать всех"), &d);
    auto *other = new QPushButton(QStringLiteral("OK"), &d);
    auto *l = new QVBoxLayout(&d);
    l->addWidget(box);
    l->addWidget(other);
    d.show();
    QApplication::setActiveWindow(&d);
    other->setFocus();
    QApplication::processEvents();
    // The part right of the box itself, where the caption is.
    const QRect caption(box->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 1, 0, box->width(), box->height());
    const QImage without = box->grab().toImage().copy(caption);
    QTest::keyClick(other, Qt::Key_Backtab);   // reached by the keyboard
    QApplication::processEvents();
    ASSERT_TRUE(box->hasFocus());
    EXPECT_NE(box->grab().toImage().copy(caption), without);
}

// Alt and the arrows: the chosen menu is drawn, the arrows go on from one row to the next, Enter runs a command of a
// later row and Esc returns to the field the keyboard came from.
TEST(WindowRules, MenusAreReachedAndDrawnByKeyboardAcrossRows) {
    winutil::installWindowRules();
    QDialog d;
    auto *bar = new QMenuBar(&d);
    for (int i = 0; i < 9; ++i) bar->addMenu(QStringLiteral("Меню номер %1").arg(i + 1))->addAction("x");
    QAction *last = bar->addAction(QStringLiteral("Выход"));
    int ran = 0;
    QObject::connect(last, &QAction::triggered, [&ran] { ++ran; });
    auto *box = new QVBoxLayout(&d);
    box->setMenuBar(bar);
    auto *field = new QLineEdit(&d);
    box->addWidget(field);
    d.resize(420, 300);
    d.show();
    QApplication::setActiveWindow(&d);
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    field->setFocus();
    const QImage before = bar->grab().toImage();
    QTest::keyClick(field, Qt::Key_Alt);
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), bar);
    ASSERT_TRUE(bar->activeAction());
    EXPECT_NE(bar->grab().toImage(), before) << "the chosen menu is not drawn";
    // Right through every menu, whatever row it is on; the last one is run with Enter.
    QStringList visited{bar->activeAction()->text()};
    for (int i = 0; i < 9; ++i) {
        auto *now = qobject_cast<QMenuBar *>(QApplication::focusWidget());
        if (QMenu *open = QApplication::activePopupWidget() ? qobject_cast<QMenu *>(QApplication::activePopupWidget())
                                                            : nullptr)
            QTest::keyClick(open, Qt::Key_Right);
        else
            QTest::keyClick(now, Qt::Key_Right);
        QApplication::processEvents();
        now = qobject_cast<QMenuBar *>(QApplication::focusWidget());
        ASSERT_TRUE(now && now->activeAction()) << i;
        visited << now->activeAction()->text();
    }
    EXPECT_EQ(visited.last(), QStringLiteral("Выход"));
    EXPECT_EQ(visited.removeDuplicates(), 0);
    auto *lastRow = qobject_cast<QMenuBar *>(QApplication::focusWidget());
    ASSERT_NE(lastRow, bar);
    QTest::keyClick(lastRow, Qt::Key_Return);
    EXPECT_EQ(ran, 1);
    lastRow->setFocus();
    lastRow->setActiveAction(last);
    QTest::keyClick(lastRow, Qt::Key_Escape);
    EXPECT_EQ(QApplication::focusWidget(), field);
}

// Rows that wrap: every item inside the width, none over another, the closing button at the right end of its row,
// and a narrower width asks for more height.
TEST(FlowLayout, WrapsItsItemsAndKeepsTheClosingOneRight) {
    QWidget w;
    auto *flow = new FlowLayout(&w);
    QList<QPushButton *> buttons;
    for (const char *t : {"Выгрузить", "Выгрузить список", "Очистить список", "Печать", "Загрузить"}) {
        buttons << new QPushButton(QString::fromUtf8(t), &w);
        flow->addWidget(buttons.last());
    }
    auto *exit = new QPushButton(QStringLiteral("Выход"), &w);
    flow->addRightAligned(exit);
    buttons << exit;
    const int oneRow = flow->heightForWidth(2000);
    for (int width : {2000, 300}) {
        w.resize(width, flow->heightForWidth(width));
        flow->setGeometry(w.rect());
        for (int i = 0; i < buttons.size(); ++i) {
            EXPECT_TRUE(w.rect().contains(buttons[i]->geometry())) << width << " " << i;
            for (int j = 0; j < i; ++j) EXPECT_FALSE(buttons[i]->geometry().intersects(buttons[j]->geometry()));
        }
        EXPECT_EQ(exit->geometry().right(), w.rect().right()) << width;
    }
    EXPECT_GT(flow->heightForWidth(300), oneRow);
}

// A text a list cuts shows whole in its tip, in a list, a tree, a closed and an open drop-down list; a text shown
// whole gets no tip, and an item's own tip stays.
TEST(WindowRules, ACutTextShowsWholeInItsTip) {
    winutil::installWindowRules();
    const QString longName = QStringLiteral("Министерство здравоохранения Северо-Западного округа, архив 2019-2024 "
                                            "гг: \"Ф30\" - #1 = сведения о медицинской организации и ее подразделениях");
    const QString longer = longName + QStringLiteral(" за отчетный год: штаты, посещения, коечный фонд и работа "
                                                     "стационара, сведения о сети и деятельности организаций");
    QDialog d;
    auto *layout = new QVBoxLayout(&d);
    auto *list = new QListWidget(&d);
    list->addItems({longName, QStringLiteral("Ф30")});
    (new QListWidgetItem(longName + QStringLiteral(" (2)"), list))->setToolTip(QStringLiteral("своя подсказка"));
    auto *tree = new QTreeWidget(&d);
    tree->setHeaderHidden(true);
    auto *top = new QTreeWidgetItem(tree, {QStringLiteral("Район")});
    new QTreeWidgetItem(top, {longName});
    tree->expandAll();
    auto *combo = new QComboBox(&d);
    combo->addItems({longer, QStringLiteral("Годовой")});
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(10);
    for (QWidget *w : {static_cast<QWidget *>(list), static_cast<QWidget *>(tree), static_cast<QWidget *>(combo)})
        layout->addWidget(w);
    d.resize(320, 400);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    auto itemTip = [](QAbstractItemView *v, const QModelIndex &i) {
        v->scrollTo(i);
        return tipAt(v->viewport(), v->visualRect(i).intersected(v->viewport()->rect()).center());
    };
    EXPECT_EQ(itemTip(list, list->model()->index(0, 0)), longName);
    EXPECT_EQ(itemTip(list, list->model()->index(1, 0)), QString());
    EXPECT_EQ(itemTip(list, list->model()->index(2, 0)), QStringLiteral("своя подсказка"));
    // Scrolled sideways, the long item is cut at the other end.
    list->horizontalScrollBar()->setValue(list->horizontalScrollBar()->maximum());
    EXPECT_EQ(tipAt(list->viewport(), list->visualRect(list->model()->index(0, 0)).intersected(
                                          list->viewport()->rect()).center()),
              longName);
    EXPECT_EQ(itemTip(tree, tree->model()->index(0, 0, tree->model()->index(0, 0))), longName);
    EXPECT_EQ(itemTip(tree, tree->model()->index(0, 0)), QString());
    EXPECT_EQ(tipAt(combo, combo->rect().center()), longer);
    combo->setCurrentIndex(1);
    EXPECT_EQ(tipAt(combo, combo->rect().center()), QString());
    // Open, the list is as wide as the screen lets it: the item longer than the screen is cut.
    combo->showPopup();
    QApplication::processEvents();
    ASSERT_LT(combo->view()->window()->width(), combo->fontMetrics().horizontalAdvance(longer));
    EXPECT_EQ(itemTip(combo->view(), combo->model()->index(0, 0)), longer);
    EXPECT_EQ(itemTip(combo->view(), combo->model()->index(1, 0)), QString());
    combo->hidePopup();
}
