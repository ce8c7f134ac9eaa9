#pragma once
// TSumRepF: the name dialog of a summary report.
// Name dialog of a summary report ("Сводный отчет"): the name, and whether
// the report goes into Form 47. Also used as the name dialog of a new
// sub-report level (caption changed, check box hidden).
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TSumRepF : public QDialog {
    Q_OBJECT
public:
    explicit TSumRepF(QWidget *parent = nullptr);

    // The name as typed.
    QString name() const;
    void setName(const QString &name);
    // Whether the report goes into Form 47; changeable false locks the choice.
    bool inNetReport() const;
    void setInNetReport(bool on, bool changeable = true);
    // The dialog as the name dialog of a sub-report level.
    void hideNetChoice();

    // What tests reach of the widgets.
    QCheckBox *netReportBox() const { return m_ui.inNet; }   // "Включить в отчет Ф47"
    QPushButton *okButton() const { return m_ui.ok; }

    // Refuses a name code page 1251 cannot hold (the report lists and the
    // value files carry it) with the dialog and the name still open.
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
private:
    struct Widgets {
        QLabel *nameCaption = nullptr;   // "Наименование"
        QLineEdit *name = nullptr;
        QCheckBox *inNet = nullptr;      // "Включить в отчет Ф47"
        QPushButton *ok = nullptr;       // "OK"
        QPushButton *cancel = nullptr;   // "Отказ"
    };
    Widgets m_ui;
};
