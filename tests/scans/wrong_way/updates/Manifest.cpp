// A manifest read by hand: the first "forms" anywhere in the JSON text.
#include <QString>

int formsAt(const QString &json) {
    for (int i = 0; i < json.size(); ++i)
        if (json[i] == QLatin1Char('"') && json.mid(i + 1, 5) == QLatin1String("forms"))
            return i;
    return -1;
}
