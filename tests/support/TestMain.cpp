// Test entry, built once per level of the layer order (KELVANA_TEST_LEVEL):
//   0  the engine: a core application object, no windows;
//   1  the platform: an offscreen application object and the fonts;
//   2  the windows (core and above): documents go to the open year's folder.
#ifndef KELVANA_TEST_LEVEL
#error "KELVANA_TEST_LEVEL is not set"
#endif

#include <QLocale>
#include <gtest/gtest.h>

#if KELVANA_TEST_LEVEL >= 1
#include "platform/Fonts.h"
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif
#if KELVANA_TEST_LEVEL >= 2
#include "engine/SharedState.h"
#include "platform/office/Show.h"
#endif

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                      : qgetenv("QT_QPA_PLATFORM"));
    TestApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
#if KELVANA_TEST_LEVEL >= 1
    fonts::installSubstitutions();
#endif
#if KELVANA_TEST_LEVEL >= 2
    office::setYearFolderSource([] { return shared().openYearFolder(); });
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
