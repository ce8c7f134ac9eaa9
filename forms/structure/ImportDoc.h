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

    // Shows the description of the structure and writes it into the table;
    // true when the database was updated.
    bool ReportDocTableStructure(const importdoc::DocStructure &s, qint64 ident, int fixcols, int fixrows);

    // What tests reach of the widgets.
    QLineEdit *fileEdit() const { return m_ui.file; }                  // "Выберите .doc файл:"
    QLineEdit *tableIdentEdit() const { return m_ui.tableIdent; }      // "Номер таблицы в БД:"
    QLineEdit *docTableEdit() const { return m_ui.docTable; }          // "Таблица в .doc:"
    QLineEdit *joinedTableEdit() const { return m_ui.joinedTable; }    // "Таблица в .doc для присоединения справа:"
    QLineEdit *fixedColumnsEdit() const { return m_ui.fixedColumns; }  // "Фиксированные столбцы:"
    QLineEdit *fixedRowsEdit() const { return m_ui.fixedRows; }        // "Фиксированные строки:"

public slots:
    // The commands, by the caption the user sees.
    void chooseFile();        // "Обзор..."
    void importStructure();   // "Импортировать"

private:
    // The structure of table n, or an empty one after telling why.
    importdoc::DocStructure extract(const QString &path, int n);

    struct Widgets {
        QLineEdit *file = nullptr;
        QPushButton *browse = nullptr;        // "Обзор..."
        QLineEdit *tableIdent = nullptr;
        QLineEdit *docTable = nullptr;
        QLineEdit *joinedTable = nullptr;
        QLineEdit *fixedColumns = nullptr, *fixedRows = nullptr;
        QPushButton *import = nullptr;        // "Импортировать"
        QPushButton *cancel = nullptr;        // "Отмена"
    };
    Widgets m_ui;
};
