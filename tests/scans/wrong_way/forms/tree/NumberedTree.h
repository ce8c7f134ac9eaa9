// A rebuilt window of forms/ that still keeps a numbered menu item.
#include <QDialog>

class QAction;

class TNumberedTree : public QDialog {
    Q_OBJECT
public:
    QAction *N8 = nullptr;   // "Выход"
};
