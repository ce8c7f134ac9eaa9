// The rule editor keeps its fields still while the live decipher of a side comes and goes with the focus: a click
// aimed at a field lands in it.
#include "controls/ContrForm.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

TEST(EditorLayout, FieldsStayWhereTheyAreWhileTheDecipherComesAndGoes) {
    SampleFixture fx(true);
    fx.reloadCaches();
    FakeDialogs dialogs;
    TContrls w;
    w.resize(1000, 720);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QList<QWidget *> fields = {w.leftEdit(), w.rightEdit(), w.cycleEdit(), w.commentEdit()};
    const auto places = [&] {
        QApplication::processEvents();
        QList<QRect> out;
        for (QWidget *f : fields) out << QRect(f->mapTo(&w, QPoint(0, 0)), f->size());
        return out;
    };
    const QList<QRect> hidden = places();
    ASSERT_FALSE(w.decipherView()->isVisible());
    w.leftEdit()->setPlainText(QStringLiteral("СТР[1]ГР[4]"));
    w.leftTimer()->stop();
    QTest::mouseClick(w.leftEdit()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(w.decipherView()->isVisible());
    EXPECT_EQ(places(), hidden);
    w.cycleEdit()->setPlainText(QStringLiteral("ГР[4..7]"));   // hides it
    ASSERT_FALSE(w.decipherView()->isVisible());
    EXPECT_EQ(places(), hidden);
}
