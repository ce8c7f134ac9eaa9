#include "platform/Paths.h"
#include "platform/Translations.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Qt's own dialog parts (file dialog labels, standard buttons) must not stay
// in English once the Russian texts are installed.
TEST(QtTranslations, FileDialogLabelsBecomeRussian) {
    const QString system = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ru.qm");
    if (!QFileInfo::exists(system)) GTEST_SKIP() << "no Qt translations on this machine";
    QTemporaryDir dir;   // a program folder without its own translations
    const QString before = paths::programFolder();
    paths::setProgramFolder(dir.path());
    const bool loaded = installQtTranslations();
    paths::setProgramFolder(before);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(installQtTranslations());   // a second call changes nothing
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}
