#include "forms/FormListCommon.h"

#include "core/Common.h"
#include "core/ListWindow.h"
#include "core/SharedState.h"
#include "forms/AdmForm.h"
#include "forms/AdmFormLogic.h"
#include "platform/Database.h"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTreeWidget>

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

QString errorText(const std::exception &e) {
    if (const auto *d = dynamic_cast<const db::Error *>(&e)) return d->message();
    if (const auto *c = dynamic_cast<const EngineError *>(&e)) return c->message();
    return QString::fromUtf8(e.what());
}

void fitToScreen(QWidget *w, const QSize &wanted) {
    QSize size = wanted;
    if (const QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    w->resize(size);
}

void setupTree(QTreeWidget *tree) {
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void reportGroupLoad(QWidget *w, const QStringList &missingUnits, const QStringList &failures) {
    StringList &errors = shared().ControlErrors;
    for (const QString &name : missingUnits) {
        showMessage(QStringLiteral("Учреждение ") + name + QStringLiteral(" не найдено.") + QLatin1Char('\n') +
                        QStringLiteral("Воспользуйтесь режимом одиночного ввода"),
                    w);
        errors.add(name + QLatin1Char('\t'));
    }
    if (!failures.isEmpty()) showError(QStringLiteral("Не загружены файлы:\n") + failures.join(QLatin1Char('\n')), w);
}

QString currentUnitName() {
    const SharedState &s = shared();
    const QSqlDatabase main = db::connection(db::kMain);
    if (s.DataTableName == QLatin1String("Data")) {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *adm = qobject_cast<TAdmForm *>(w);
            if (adm && adm->isVisible() && adm->TreeView1->currentItem())
                return adm->TreeView1->currentItem()->text(0);
        }
        return db::scalar(main, QStringLiteral("select unit from administration where id=?"), {s.CurrentInstitution})
            .toString();
    }
    return db::scalar(main, QStringLiteral("select report from reports where id=?"), {s.CurrentInstitution}).toString();
}

QString mainWindowCaption() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow *>(w) && !w->windowTitle().isEmpty()) return w->windowTitle();
    return appTitle();
}

void showSkippedUnits() {
    const StringList &errors = shared().ControlErrors;
    if (errors.isEmpty()) return;
    TForm1 &list = Form1();
    list.setWindowTitle(QString());
    ShowTextList(errors, QStringLiteral("Пропущенные ЛПУ"));
    execModal(&list);
}

} // namespace winutil
