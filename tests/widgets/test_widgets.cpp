#include "widgets/AbcBackground.h"
#include "widgets/AbcCheckBox.h"
#include "widgets/AbcComboBox.h"
#include "widgets/AbcGradient.h"
#include "widgets/AbcMouseLabel.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

using namespace abc;

TEST(GradientArithmetic, RoundingHalvesGoToEvenNeighbour) {
    EXPECT_EQ(rnd(0.5), 0);
    EXPECT_EQ(rnd(1.5), 2);
    EXPECT_EQ(rnd(2.5), 2);
    EXPECT_EQ(rnd(-0.5), 0);
    EXPECT_EQ(rnd(-1.5), -2);
    EXPECT_EQ(rnd(2.4999), 2);
    EXPECT_EQ(rnd(2.5001), 3);
}

TEST(GradientArithmetic, StepColoursRunFromStartToEndColour) {
    const QColor from(0, 255, 255), to(5, 121, 250);
    EXPECT_EQ(stepColor(from, to, 236, 236), to);
    // Step 1 of 2 from 0 to 5: 2.5 rounds to 2 (even); 255 -> 121: 188.
    EXPECT_EQ(stepColor(from, to, 1, 2), QColor(2, 188, 252));
    EXPECT_EQ(middleColor(QColor(1, 2, 255), QColor(2, 3, 0)), QColor(1, 2, 127));
}

TEST(GradientArithmetic, StepCountIsKeptWithinRange) {
    TabcBackground bg;
    bg.setDrawSteps(0);
    EXPECT_EQ(bg.DrawSteps(), 1);
    bg.setDrawSteps(300);
    EXPECT_EQ(bg.DrawSteps(), 236);
    bg.setDrawSteps(17);
    EXPECT_EQ(bg.DrawSteps(), 17);
}

TEST(GradientBands, VerticalBandsTileTheRectangleWithoutGaps) {
    const QRect r(3, 7, 50, 99);
    const auto list = bands(TabcDrawDirection::ddVertical, r, 236);
    ASSERT_EQ(list.size(), 236);
    int y = r.top();
    for (const Band &b : list) {
        EXPECT_EQ(b.area.boundingRect().top(), y);
        y = b.area.at(2).y();
    }
    EXPECT_EQ(y, r.top() + r.height());
}

TEST(GradientBands, OneStepVerticalIsOneBandInEndColour) {
    TabcGradient g;
    g.setColorCount(1);
    g.setColorFrom(Qt::red);
    g.setColorTo(QColor(10, 20, 30));
    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    g.Draw(p, img.rect());
    p.end();
    EXPECT_EQ(img.pixelColor(0, 0), QColor(10, 20, 30));
    EXPECT_EQ(img.pixelColor(19, 9), QColor(10, 20, 30));
}

TEST(GradientBands, DiagonalSplitsHalfwayAndEndsInTheFarCorner) {
    EXPECT_EQ(diagonalSplit(236), 118);
    const QRect r(0, 0, 200, 100);
    const auto lr = bands(TabcDrawDirection::ddLRDiagonal, r, 236);
    ASSERT_EQ(lr.size(), 236);
    // Step 118 ends on the line from the top-right to the bottom-left corner.
    EXPECT_TRUE(lr[117].area.contains(QPoint(200, 0)));
    EXPECT_TRUE(lr[117].area.contains(QPoint(0, 100)));
    EXPECT_TRUE(lr.last().area.contains(QPoint(200, 100)));
    const auto rl = bands(TabcDrawDirection::ddRLDiagonal, r, 236);
    EXPECT_TRUE(rl.first().area.contains(QPoint(200, 0)));
    EXPECT_TRUE(rl.last().area.contains(QPoint(0, 100)));
}

TEST(GradientBands, CentreStartsFromTheStartColourAtTheEdges) {
    TabcGradient g;
    g.setColorCount(4);
    g.setDirection(TabcDrawDirection::ddCenter);
    g.setColorFrom(QColor(0, 0, 0));
    g.setColorTo(QColor(200, 200, 200));
    QImage img(40, 40, QImage::Format_RGB32);
    QPainter p(&img);
    g.Draw(p, img.rect());
    p.end();
    EXPECT_EQ(img.pixelColor(0, 0), QColor(0, 0, 0));        // the fill in the start colour
    EXPECT_EQ(img.pixelColor(5, 5), QColor(50, 50, 50));     // step 1, inset by 5
    EXPECT_EQ(img.pixelColor(19, 19), QColor(150, 150, 150));
}

TEST(GradientBuffer, StretchBufferIsRebuiltOnlyOnChange) {
    TabcGradient g;
    g.setDrawMethod(TabcGradientDrawMethod::agdStretch);
    EXPECT_TRUE(g.DrawBuffered());
    QImage img(300, 300, QImage::Format_RGB32);
    QPainter p(&img);
    g.Draw(p, QRect(0, 0, 100, 100));
    g.Draw(p, QRect(0, 0, 250, 300));
    EXPECT_EQ(g.rebuildCount(), 1);
    g.setColorTo(Qt::white);
    g.Draw(p, QRect(0, 0, 250, 300));
    EXPECT_EQ(g.rebuildCount(), 2);
    // Plain buffered drawing follows the size.
    g.setDrawMethod(TabcGradientDrawMethod::agdDraw);
    g.Draw(p, QRect(0, 0, 20, 20));
    g.Draw(p, QRect(0, 0, 30, 20));
    EXPECT_EQ(g.rebuildCount(), 4);
    // Turning buffering off drops the bitmap and the stretch method.
    g.setDrawMethod(TabcGradientDrawMethod::agdStretch);
    g.setDrawBuffered(false);
    EXPECT_FALSE(g.hasBuffer());
    EXPECT_EQ(g.DrawMethod(), TabcGradientDrawMethod::agdDraw);
    p.end();
}

TEST(GradientBuffer, SystemMethodFallsBackToHandDrawing) {
    TabcGradient a;
    a.setDrawMethod(TabcGradientDrawMethod::agdWinAPI);
    EXPECT_EQ(a.effectiveMethod(), TabcGradientDrawMethod::agdDraw);
    TabcGradient b;
    b.setColorCount(12);
    b.setDirection(TabcDrawDirection::ddHorizontal);
    int changes = 0;
    QObject::connect(&a, &TabcGradient::OnChange, [&] { ++changes; });
    a.Assign(b);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(a.ColorCount(), 12);
    EXPECT_EQ(a.Direction(), TabcDrawDirection::ddHorizontal);
}

TEST(MouseLabel, ColourAndShadowEffectsExcludeEachOther) {
    EXPECT_EQ(mergeEffects(almColor, almColor | almColorShadow), TabcLabelMouseEffects(almColorShadow));
    EXPECT_EQ(mergeEffects(almColorShadow, almColor | almColorShadow), TabcLabelMouseEffects(almColor));
    TabcMouseLabel l(QStringLiteral("x"));
    l.setMouseOverEffects(almUnderline | almColor);
    EXPECT_EQ(l.MouseOverEffects(), almUnderline | almColor);
    l.setMouseDownEffects(almUnderline | almColorShadow | almSound);
    EXPECT_EQ(l.MouseDownEffects(), almUnderline | almColorShadow | almSound);
}

TEST(MouseLabel, StatesChooseTheirLook) {
    const QColor over(255, 255, 0), down(0, 255, 255), black(0, 0, 0);
    auto n = labelLook(LabelState::Normal, almUnderline | almColor, over, almUnderline, down, black);
    EXPECT_FALSE(n.underline);
    EXPECT_EQ(n.textColor, black);
    auto o = labelLook(LabelState::Over, almUnderline | almColor, over, almUnderline, down, black);
    EXPECT_TRUE(o.underline);
    EXPECT_EQ(o.textColor, over);
    auto d = labelLook(LabelState::Pressed, almColor, over, almColorShadow, down, black);
    EXPECT_FALSE(d.underline);
    EXPECT_TRUE(d.shadow);
    EXPECT_EQ(d.shadowColor, down);
    EXPECT_EQ(d.textColor, black);
}

TEST(MouseLabel, OverStateOnlyWhileEnabledEventsAlways) {
    TabcMouseLabel l(QStringLiteral("Команда"));
    int enters = 0, leaves = 0;
    QObject::connect(&l, &TabcMouseLabel::mouseEnter, [&] { ++enters; });
    QObject::connect(&l, &TabcMouseLabel::mouseLeave, [&] { ++leaves; });
    l.mouseEntered();
    EXPECT_TRUE(l.isOver());
    EXPECT_EQ(enters, 1);
    l.mouseLeft();
    EXPECT_FALSE(l.isOver());
    EXPECT_EQ(leaves, 1);
    // A disabled label does not become over, but its handlers still hear of it.
    l.setEnabled(false);
    l.mouseEntered();
    EXPECT_FALSE(l.isOver());
    EXPECT_EQ(enters, 2);
    l.mouseLeft();
    EXPECT_EQ(leaves, 2);
}

TEST(ComboBox, KeepsItsItemWhenTheWindowIsMadeAnew) {
    TabcLRComboBox c;
    c.addItems({QStringLiteral("Годовой"), QStringLiteral("1 квартал"), QStringLiteral("2 квартал")});
    c.setCurrentIndex(2);
    c.show();
    c.recreateWindow();
    EXPECT_EQ(c.currentIndex(), 2);
    EXPECT_EQ(c.currentText(), QStringLiteral("2 квартал"));
}

TEST(CheckBox, StyleBitsFollowTheProperties) {
    EXPECT_EQ(checkBoxStyle(0x2F00 | 0x3, Qt::AlignLeft, TabcVAlignment::vaTop, true), 0x2503u);
    EXPECT_EQ(checkBoxStyle(0, Qt::AlignHCenter, TabcVAlignment::vaCenter, false), 0xF00u);
    EXPECT_EQ(checkBoxStyle(0, Qt::AlignRight, TabcVAlignment::vaBottom, false), 0xA00u);
    TabcCheckBox b(QStringLiteral("Выбрать всех"));
    EXPECT_EQ(b.AlignHorz(), Qt::AlignLeft);
    EXPECT_EQ(b.AlignVert(), TabcVAlignment::vaTop);
    EXPECT_TRUE(b.WordWrap());
    b.click();
    EXPECT_TRUE(b.isChecked());
}
