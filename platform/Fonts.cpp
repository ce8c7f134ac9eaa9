#include "platform/Fonts.h"

#include <QFont>
#include <QStringList>

namespace fonts {

void installSubstitutions() {
    QFont::insertSubstitutions(QStringLiteral("Arial Cyr"), QStringList{QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    QFont::insertSubstitutions(QStringLiteral("Arial"), QStringList{QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Times New Roman"), QStringList{QStringLiteral("Liberation Serif")});
    QFont::insertSubstitutions(QStringLiteral("Times New Roman Cyr"), QStringList{QStringLiteral("Liberation Serif")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), QStringList{QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"), QStringList{QStringLiteral("Liberation Mono")});
}

} // namespace fonts
