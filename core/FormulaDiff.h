#pragma once
// TFormulaDiff: formulas or tables changed since the previous year.
// The window listing formulas (or tables) that differ from the previous
// year. In the formulas mode every change, click or key release in the list
// deciphers the reference under the caret into the panel beside it. Its
// callers fill the list (setLines), replace the caption and show it modally.
#include <QDialog>
#include <QStringList>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QSplitter;
class QTextEdit;
class QWidget;
class TFormulaHighlighter;

class TFormulaDiff : public QDialog {
    Q_OBJECT
public:
    explicit TFormulaDiff(QWidget *parent = nullptr);
    ~TFormulaDiff() override;

    void SetTablesMode(bool on);
    bool tablesMode() const { return m_tablesMode; }
    // The listed formulas or tables, one a line.
    void setLines(const QStringList &lines);
    TFormulaHighlighter *highlighter() const { return m_highlighter.get(); }

    // What tests reach of the widgets.
    QPlainTextEdit *listEdit() const { return m_ui.list; }   // "Список формул с расхождениями:"
    QTextEdit *decipherView() const { return m_ui.decipher; }   // "Расшифровка формулы:"

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void decipherAtCaret();   // the list changed
    std::unique_ptr<TFormulaHighlighter> m_highlighter;
    bool m_tablesMode = false;

    struct Widgets {
        QLabel *listCaption = nullptr;   // "Список формул с расхождениями:"
        QPlainTextEdit *list = nullptr;
        QSplitter *splitter = nullptr;
        QWidget *decipherPanel = nullptr;
        QLabel *decipherCaption = nullptr;   // "Расшифровка формулы:"
        QTextEdit *decipher = nullptr;
    };
    Widgets m_ui;
};

// The shared discrepancy window, created on first use (without a parent) and
// kept until the application ends.
TFormulaDiff &FormulaDiff();
