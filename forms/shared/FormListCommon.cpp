#include "forms/shared/FormListCommon.h"

#include "engine/StringList.h"
#include "core/ListWindow.h"
#include "engine/SharedState.h"
#include "forms/shared/AdmFormLogic.h"
#include "platform/Database.h"

#include <QApplication>
#include <QMainWindow>

namespace winutil {

QString appTitle() {
    const SharedState &s = shared();
    if (s.Year != 0 && !s.ConfigName.isEmpty()) {
        QString level;
        try {
            level = adm::levelName();
        } catch (const std::exception &) {
            level = QStringLiteral("Годовой");
        }
        return s.yearText() + QStringLiteral(" - ") + s.ConfigName + QStringLiteral(" - ") + level +
               QLatin1Char(':');
    }
    const QString t = QApplication::applicationDisplayName();
    return t.isEmpty() ? QApplication::applicationName() : t;
}

void reportGroupLoad(QWidget *w, const QStringList &missingUnits, const QStringList &failures) {
    for (const QString &name : missingUnits) {
        showMessage(QStringLiteral("Учреждение ") + name + QStringLiteral(" не найдено.") + QLatin1Char('\n') +
                        QStringLiteral("Воспользуйтесь режимом одиночного ввода"),
                    w);
    }
    if (!failures.isEmpty()) showError(QStringLiteral("Не загружены файлы:\n") + failures.join(QLatin1Char('\n')), w);
}

QString storedUnitName(ValueTable table, qint64 institution) {
    const QSqlDatabase main = db::connection(db::kMain);
    if (table == ValueTable::Data)
        return db::scalar(main, QStringLiteral("select unit from administration where id=?"), {institution})
            .toString();
    return db::scalar(main, QStringLiteral("select report from reports where id=?"), {institution}).toString();
}

QString mainWindowCaption() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow *>(w) && !w->windowTitle().isEmpty()) return w->windowTitle();
    return appTitle();
}

void showSkippedUnits(const QStringList &missingUnits) {
    if (missingUnits.isEmpty()) return;
    StringList errors;
    for (const QString &name : missingUnits) errors.add(name + QLatin1Char('\t'));
    TForm1 &list = Form1();
    list.setWindowTitle(QString());
    ShowTextList(errors, QStringLiteral("Пропущенные ЛПУ"));
    execModal(&list);
}

} // namespace winutil
