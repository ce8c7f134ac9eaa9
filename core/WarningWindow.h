#pragma once
// TForm3: the warning before a form is printed for a report.
// The warning shown before a form is printed for the report: "Да" accepts,
// "Нет" rejects. Shown modally through the dialog seam by its caller.
#include <QDialog>

class QPushButton;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);

private:
    struct Widgets {
        // "Да" accepts, "Нет" rejects; tests find them by their object names
        // "YesButton" and "NoButton".
        QPushButton *yes = nullptr, *no = nullptr;
    };
    Widgets m_ui;
};

// The shared instance, created on first use and kept until the application ends.
TForm3 &Form3();
