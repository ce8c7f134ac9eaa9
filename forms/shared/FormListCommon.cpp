#include "forms/shared/FormListCommon.h"

#include "engine/SharedState.h"
#include "forms/shared/AdmFormLogic.h"
#include "platform/Database.h"

#include <QCoreApplication>

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
    // The program sets no display name of its own: the name stands for it.
    return QCoreApplication::applicationName();
}

GroupLoadReport groupLoadReport(const QStringList &missingUnits, const QStringList &failures,
                                const QString &closing) {
    GroupLoadReport r;
    for (const QString &name : missingUnits) {
        r.notFound.append(QStringLiteral("Учреждение ") + name + QStringLiteral(" не найдено.") + QLatin1Char('\n') +
                          QStringLiteral("Воспользуйтесь режимом одиночного ввода"));
        r.skipped.append(name + QLatin1Char('\t'));
    }
    if (!failures.isEmpty()) r.refused = QStringLiteral("Не загружены файлы:\n") + failures.join(QLatin1Char('\n'));
    r.closing = closing;
    r.skippedHeader = QStringLiteral("Пропущенные ЛПУ");
    return r;
}

QString storedUnitName(ValueTable table, qint64 institution) {
    const QSqlDatabase main = db::connection(db::kMain);
    if (table == ValueTable::Data)
        return db::scalar(main, QStringLiteral("select unit from administration where id=?"), {institution})
            .toString();
    return db::scalar(main, QStringLiteral("select report from reports where id=?"), {institution}).toString();
}

} // namespace winutil
