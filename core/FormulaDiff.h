#pragma once
// TFormulaDiff: formulas or tables changed since the previous year.
// The window listing formulas (or tables) that differ from the previous
// year. In the formulas mode every change, click or key release in the list
// deciphers the reference under the caret into the panel beside it. Its
// callers fill Memo1, replace the caption and show it modally.
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

    QLabel *Label1 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QSplitter *Splitter1 = nullptr;
    QWidget *Panel1 = nullptr;
    QLabel *Label3 = nullptr;
    QTextEdit *RichEdit1 = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Memo1Change();
    std::unique_ptr<TFormulaHighlighter> m_highlighter;
    bool m_tablesMode = false;
};

// The shared discrepancy window, created on first use (without a parent) and
// kept until the application ends.
TFormulaDiff &FormulaDiff();
