#include "platform/Fonts.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvana"));
    QLocale::setDefault(QLocale::c());
    fonts::installSubstitutions();
    return 0;
}
