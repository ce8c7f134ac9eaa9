#pragma once
// TTitles: the editor of one header title of a table.
// The header title editor of the table window: text, font, alignment,
// rotation, indent, the number of text lines (the height of the title's row)
// and the width of its column, with a preview of the title.
#include "forms/structure/StructureEdit.h"

#include <QDialog>
#include <QGroupBox>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

// A framed group of radio buttons with one chosen item.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString &caption, const QStringList &items, QWidget *parent = nullptr);
    int itemIndex() const;
    void setItemIndex(int index);
signals:
    void chosen();
private:
    QButtonGroup *m_group;
};

class TTitles : public QDialog {
    Q_OBJECT
public:
    explicit TTitles(QWidget *parent = nullptr);

    // What tests reach of the widgets.
    QPlainTextEdit *textEdit() const { return m_ui.text; }        // "Текст"
    QComboBox *fontBox() const { return m_ui.font; }              // "Шрифт"
    QSpinBox *fontSizeBox() const { return m_ui.fontSize; }       // the size beside "Шрифт"
    QCheckBox *boldBox() const { return m_ui.bold; }              // "Жирный"
    RadioGroup *horizontalAlignment() const { return m_ui.horizontalAlign; }   // "Выравнивание по горизонтали"
    QSpinBox *indentBox() const { return m_ui.indent; }           // "Сдвиг"
    QSpinBox *linesBox() const { return m_ui.lines; }             // "Число строк текста"
    QLineEdit *widthEdit() const { return m_ui.width; }           // "Ширина столбца"
    QPushButton *okButton() const { return m_ui.ok; }             // "OK"
    QLabel *previewImage() const { return m_ui.preview; }         // the title as it will be drawn

    // Fills the controls from a title: content, its line count and the
    // column width text (empty when the column has no size record).
    void setTitle(const structedit::TitleContent &content, int lines, const QString &widthText);
    // The title as the controls give it (layout code rebuilt).
    structedit::TitleContent content() const;
    // The number of text lines and the column width as typed.
    int lineCount() const;
    QString widthText() const;

public slots:
    // "OK": closes the dialog unless the width is no number, the font is
    // not in the list or the lines do not fit in a row.
    void acceptTitle();
    // "Число строк текста" changed: the preview takes that many lines.
    void linesChanged();
    // Any field changed: the preview shows the title as typed, as wide as the
    // typed column width.
    void previewChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Draws the current title onto the image.
    void PreviewTitle(QLabel *image, const QColor &color);
    void FormResize();
    QFont previewFont() const;
    bool m_shown = false;

    struct Widgets {
        QLabel *preview = nullptr;
        QWidget *fields = nullptr;             // panel with the controls
        QPlainTextEdit *text = nullptr;        // "Текст"
        QComboBox *font = nullptr;             // "Шрифт"
        QSpinBox *fontSize = nullptr;
        QCheckBox *bold = nullptr;             // "Жирный"
        QCheckBox *italic = nullptr;           // "Наклонный"
        QCheckBox *rotated = nullptr;          // "Вертикальный"
        RadioGroup *horizontalAlign = nullptr; // "Выравнивание по горизонтали"
        RadioGroup *verticalAlign = nullptr;   // "Выравнивание по вертикали"
        QSpinBox *indent = nullptr;            // "Сдвиг", 0..9
        QSpinBox *lines = nullptr;             // "Число строк текста"
        QLineEdit *width = nullptr;            // "Ширина столбца", in points
        QPushButton *ok = nullptr;             // "OK"
        QPushButton *cancel = nullptr;         // "Отказ"
    };
    Widgets m_ui;
};
