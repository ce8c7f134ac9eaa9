#include "app/MainWindow.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "platform/Fonts.h"
#include "platform/Paths.h"
#include "platform/Translations.h"
#include "platform/office/Show.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QLocale>
#include <memory>
#include <cstdio>
#include <cstring>

namespace {

// --make-sample <folder>: program files, a sample configuration for this
// year and the previous one, registered as "Пример".
int makeSample(const QString &folder) {
    try {
        const QString target = QDir(folder).absolutePath();
        sample::createProgramFiles(paths::programFolder());
        sample::createConfiguration(target, QDate::currentDate().year(), true);
        sample::registerConfiguration(paths::settingsFile(), QStringLiteral("Пример"), target);
    } catch (const db::Error &e) {
        std::fprintf(stderr, "%s\n", e.message().toLocal8Bit().constData());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    // Making the sample needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--make-sample") == 0) {
            QCoreApplication core(argc, argv);
            QLocale::setDefault(QLocale::c());
            if (i + 1 >= argc) {
                std::fprintf(stderr, "--make-sample <folder>\n");
                return 2;
            }
            return makeSample(QString::fromLocal8Bit(argv[i + 1]));
        }
    }

    prepareRussianLocale();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvana"));
    // Numbers are written and read with "." whatever the desktop's language:
    // prepareRussianLocale keeps the numeric category at "C", so the default
    // locale gives "." while the file dialogs' types and sizes stay Russian.
    fonts::installSubstitutions();
    office::setYearFolderSource([] { return shared().openYearFolder(); });
    // File dialogs and standard buttons of Qt speak Russian like the rest.
    installQtTranslations();

    // Without a year (the first choice of the start-up cancelled) the
    // program ends at once.
    const std::unique_ptr<TMain> main = startProgram();
    if (!main) return 0;
    main->showOnScreen();
    return app.exec();
}
