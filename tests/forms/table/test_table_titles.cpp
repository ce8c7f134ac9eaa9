// Header titles of the table window as drawn: wrapped and rotated lines stay inside their titles, the letters lie on
// their lines, and the window shows the whole table.
#include "engine/SharedState.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableLayout.h"
#include "forms/table/TableWindow.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "support/TableWindowSetup.h"

#include <QScrollBar>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

class TableTitlesTest : public ::testing::Test {
protected:
    void SetUp() override { fx.reloadCaches(); }

    std::unique_ptr<TVTable> show(qint64 formId, const QString &formName, const QString &tableNumber) {
        return showTableWindow(aimTableWindow(sample::ids::NorthHospital, formId, formName, tableNumber));
    }

    SampleFixture fx;
    FakeDialogs dialogs;
};

// Points of the image darker than the background.
QList<QPoint> ink(const QImage &image) {
    QList<QPoint> out;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 160) out.append(QPoint(x, y));
    return out;
}

GridTitle title(const QString &text, const QString &tchars) {
    GridTitle t;
    t.text = text;
    t.tchars = tchars;
    t.font = QFont(QStringLiteral("Arial Cyr"));
    t.font.setPointSize(10);
    return t;
}

} // namespace

TEST_F(TableTitlesTest, EveryLineOfTheSampleTitlesLiesInsideItsTitle) {
    const struct {
        int form;
        const char *name, *table;
    } tables[] = {{sample::ids::FormF30, "Ф30", "(1000)"},
                  {sample::ids::FormF30, "Ф30", "(2000)"},
                  {sample::ids::FormF14, "Ф14", "(1000)"}};
    int rotated = 0;
    for (const auto &t : tables) {
        auto w = show(t.form, QString::fromUtf8(t.name), QString::fromUtf8(t.table));
        ASSERT_TRUE(w->isLoaded()) << t.table;
        for (GridTitle ti : w->grid()->titles()) {
            if (ti.text.trimmed().isEmpty()) continue;
            const QList<QRect> lines = TableGrid::titleLineRects(ti, ti.rect, w->grid()->viewport());
            ASSERT_EQ(lines.size(), ti.lines.size());
            for (const QRect &r : lines) EXPECT_TRUE(ti.rect.contains(r)) << ti.text.toStdString() << " " << t.table;
            rotated += layout::parseTitleCode(ti.tchars).rotated;
        }
    }
    EXPECT_GE(rotated, 4);   // "№ строки" in each table, "из них женщин"
}

TEST_F(TableTitlesTest, LettersLieOnTheirLines) {
    // Drawn alone into an image: every dark point lies on one of the line rectangles and every line has some.
    const struct {
        const char *text, *tchars;
        QSize size;
    } cases[] = {
        {"из них женщин", "BC10", {80, 60}},
        {"№ строки", "CC10", {40, 60}},
        {"Число должностей: в целом по организации", "CC00", {160, 40}},
        {"верх", "TL1", {40, 80}},
        {"отступ", "TL02", {120, 30}},
    };
    for (const auto &c : cases) {
        GridTitle t = title(QString::fromUtf8(c.text), QString::fromLatin1(c.tchars));
        QImage image(c.size, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter p(&image);
            TableGrid::drawTitle(p, t, image.rect());
        }
        const QList<QRect> lines = TableGrid::titleLineRects(t, image.rect(), &image);
        const QList<QPoint> dots = ink(image);
        ASSERT_FALSE(dots.isEmpty()) << c.text;
        QList<int> perLine(lines.size(), 0);
        for (const QPoint &d : dots) {
            int hit = -1;
            for (int i = 0; i < lines.size(); ++i)
                if (lines[i].adjusted(-1, -1, 1, 1).contains(d)) hit = i;
            EXPECT_GE(hit, 0) << c.text << " at " << d.x() << "," << d.y();
            if (hit >= 0) ++perLine[hit];
        }
        for (int i = 0; i < lines.size(); ++i) EXPECT_GT(perLine[i], 0) << c.text << " line " << i;
    }
}

// (The focused cell staying in view of a small window is the table window's own test.)
TEST_F(TableTitlesTest, WindowOpensOverTheScreenWithTheWholeTableInView) {
    auto w = show(sample::ids::FormF30, QStringLiteral("Ф30"), QStringLiteral("(1000)"));
    ASSERT_TRUE(w->isLoaded());
    TableGrid *g = w->grid();
    EXPECT_GE(w->width(), 640);
    EXPECT_EQ(g->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(g->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(g->viewport()->rect().contains(g->cellRect(3, 4)));
}
