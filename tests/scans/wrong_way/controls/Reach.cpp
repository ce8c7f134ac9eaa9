// A window that names its documents after the node selected in another
// window, found by that window's object name.
#include <QApplication>
#include <QTreeWidget>

QString selectedUnit() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() != QLatin1String("AdmForm")) continue;
        if (auto *tree = w->findChild<QTreeWidget *>(QStringLiteral("TreeView1"))) return tree->currentItem()->text(0);
    }
    return QString();
}
