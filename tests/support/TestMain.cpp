// Test entry: one offscreen application object for every test.
#include "engine/SharedState.h"
#include "platform/Fonts.h"
#include "platform/office/Show.h"

#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                      : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    fonts::installSubstitutions();
    office::setYearFolderSource([] { return shared().openYearFolder(); });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
