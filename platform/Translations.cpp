#include "platform/Translations.h"

#include "platform/Paths.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Texts of the file dialogs that the shipped Russian files do not carry.
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char *context, const char *sourceText, const char *, int) const override {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return {};
        static const std::pair<const char *, const char *> texts[] = {
            {"Folder", "Папка"}, {"File Folder", "Папка"}, {"Drive", "Диск"}, {"File", "Файл"},
            {"%1 File", "Файл %1"}, {"Unknown", "Неизвестный"}};
        for (const auto &[en, ru] : texts)
            if (qstrcmp(sourceText, en) == 0) return QString::fromUtf8(ru);
        return {};
    }
    bool isEmpty() const override { return false; }
};

} // namespace

void prepareRussianLocale() {
    // LC_ALL would override every category: its value becomes the default.
    const QByteArray all = qgetenv("LC_ALL");
    if (!all.isEmpty()) {
        qputenv("LANG", all);
        qunsetenv("LC_ALL");
    }
    qputenv("LC_TIME", "ru_RU.UTF-8");
    qputenv("LC_MESSAGES", "ru_RU.UTF-8");
    qputenv("LC_NUMERIC", "C");
}

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
            QCoreApplication::installTranslator(new MissingQtTexts(app));
            return true;
        }
        delete translator;
    }
    return false;
}
