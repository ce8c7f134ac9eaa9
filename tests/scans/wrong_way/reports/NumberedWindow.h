// A window outside forms/ that keeps a numbered button and its handler.
#include <QDialog>

class QPushButton;

class TNumbered : public QDialog {
    Q_OBJECT
public:
    QPushButton *Button1 = nullptr;   // "Пересчитать"
    void Button1Click();
};
