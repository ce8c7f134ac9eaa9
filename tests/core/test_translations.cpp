#include "engine/NumberFormat.h"
#include "platform/Paths.h"
#include "platform/Translations.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstdio>

// Qt's own dialog parts (file dialog labels, standard buttons, the type column of the file list) must not stay in
// English once the Russian texts are installed.
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
    EXPECT_EQ(QFileIconProvider().type(QFileInfo(dir.path())), QStringLiteral("Папка"));
}

// Run as a child process prepared like the program: reports what the desktop locale gives for dates and numbers.
TEST(QtLocaleChild, Report) {
    if (qEnvironmentVariableIsEmpty("KELVANA_LOCALE_CHILD")) GTEST_SKIP() << "runs as a child process only";
    QLocale::setDefault(QLocale::system());   // as the program leaves it
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 30));
    std::printf("date=%s\nsystem=%s\ndefault=%s\nfixed=%s\nmime=%s\n",
                qPrintable(QLocale::system().toString(when, QLocale::ShortFormat)),
                qPrintable(QLocale::system().toString(10.1)), qPrintable(QLocale().toString(10.1)),
                qPrintable(num::fixed2(10.1)),
                qPrintable(QMimeDatabase().mimeTypeForName(QStringLiteral("text/plain")).comment()));
}

// Dates in the standard dialogs are Russian, while every number the program writes keeps "." as decimal separator, even
// on a Russian desktop whose settings would give ",".
TEST(QtLocale, RussianDatesAndPointDecimals) {
    const QByteArray saved[] = {qgetenv("LC_ALL"), qgetenv("LANG"), qgetenv("LC_TIME"), qgetenv("LC_MESSAGES"),
                                qgetenv("LC_NUMERIC")};
    qputenv("LC_ALL", "ru_RU.UTF-8");   // a Russian desktop
    prepareRussianLocale();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KELVANA_LOCALE_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=QtLocaleChild.Report")});
    const char *names[] = {"LC_ALL", "LANG", "LC_TIME", "LC_MESSAGES", "LC_NUMERIC"};
    for (int i = 0; i < 5; ++i)
        if (saved[i].isEmpty()) qunsetenv(names[i]);
        else qputenv(names[i], saved[i]);
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("date=05.03.2024 14:30"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("system=10.1\n"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("default=10.1\n"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("fixed=10.10\n"))) << out.toStdString();
    // The file dialog's type column: Russian where the type database has it.
    QFile types(QStringLiteral("/usr/share/mime/packages/freedesktop.org.xml"));
    if (types.open(QIODevice::ReadOnly) && types.readAll().contains("xml:lang=\"ru\""))
        EXPECT_TRUE(out.contains(QStringLiteral("mime=Текстовый документ\n"))) << out.toStdString();
}
