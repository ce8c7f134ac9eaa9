// A window still to be rebuilt: its numbered menu item and handler stand.
#include <QDialog>

class QAction;

class TFormListLike : public QDialog {
    Q_OBJECT
public:
    QAction *N9 = nullptr;   // "Выход"
    void N9Click();
};
