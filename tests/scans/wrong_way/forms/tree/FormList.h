// The forms tree keeping a numbered menu item and handler.
#include <QDialog>

class QAction;

class TFormListLike : public QDialog {
    Q_OBJECT
public:
    QAction *N9 = nullptr;   // "Выход"
    void N9Click();
};
