#pragma once
// TImportDocForm: a table structure made from a Word document.
// The window that makes a table of a Word document the structure of a
// definition table ("Импорт документа").
#include "forms/structure/ImportDocLogic.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

class TImportDocForm : public QDialog {
    Q_OBJECT
public:
    explicit TImportDocForm(QWidget *parent = nullptr);

    QLineEdit *EditFileName = nullptr;
    QPushButton *ButtonSelectFile = nullptr;
    QLineEdit *EditUpdateFormNumber = nullptr;
    QLineEdit *EditTableNumber = nullptr;
    QLineEdit *EditTableNumber2 = nullptr;
    QLineEdit *EditFixCols = nullptr;
    QLineEdit *EditFixRows = nullptr;
    QPushButton *ButtonImport = nullptr;
    QPushButton *ButtonCancel = nullptr;

    // Shows the description of the structure and writes it into the table;
    // true when the database was updated.
    bool ReportDocTableStructure(const importdoc::DocStructure &s, qint64 ident, int fixcols, int fixrows);

public slots:
    void ButtonSelectFileClick();
    void ButtonImportClick();

private:
    // The structure of table n, or an empty one after telling why.
    importdoc::DocStructure extract(const QString &path, int n);
};
