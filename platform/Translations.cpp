#include "platform/Translations.h"

#include "platform/Paths.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installQtTranslations() {
    static QTranslator *installed = nullptr;
    if (installed) return true;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) return false;
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QStringList folders{paths::programFolder() + QStringLiteral("translations"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    for (const QString &folder : folders) {
        auto *translator = new QTranslator(app);
        if (translator->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), folder) &&
            QCoreApplication::installTranslator(translator)) {
            installed = translator;
            return true;
        }
        delete translator;
    }
    return false;
}
