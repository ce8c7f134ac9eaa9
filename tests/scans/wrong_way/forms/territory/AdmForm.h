// The territory window, rebuilt, with a numbered handler left behind.
#include <QDialog>

class TAdmFormLike : public QDialog {
    Q_OBJECT
public:
    void N7Click();   // "Подгрузить" / "Группу"
};
