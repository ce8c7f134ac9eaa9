#include "widgets/AbcComboBox.h"
#include "widgets/AbcGradient.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

using namespace abc;

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

TEST(GradientBuffer, ColourChangeRebuildsTheStretchBuffer) {
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
    p.end();
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
