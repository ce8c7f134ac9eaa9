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
private:
    QButtonGroup *m_group;
};

class TTitles : public QDialog {
    Q_OBJECT
public:
    explicit TTitles(QWidget *parent = nullptr);

    QLabel *Image1 = nullptr;          // preview
    QWidget *pp = nullptr;             // panel with the controls
    QPlainTextEdit *Memo1 = nullptr;   // text
    QComboBox *ComboBox1 = nullptr;    // font name
    QSpinBox *SpinEdit1 = nullptr;     // font size
    QCheckBox *CheckBox1 = nullptr;    // bold
    QCheckBox *CheckBox2 = nullptr;    // italic
    QCheckBox *CheckBox3 = nullptr;    // vertical
    RadioGroup *RadioGroup1 = nullptr; // horizontal alignment
    RadioGroup *RadioGroup2 = nullptr; // vertical alignment
    QSpinBox *SpinEdit2 = nullptr;     // indent 0..9
    QSpinBox *SpinEdit3 = nullptr;     // lines of text
    QLineEdit *Edit1 = nullptr;        // column width in points
    QPushButton *BitBtn1 = nullptr;    // OK
    QPushButton *BitBtn2 = nullptr;    // cancel

    // Fills the controls from a title: content, its line count and the
    // column width text (empty when the column has no size record).
    void setTitle(const structedit::TitleContent &content, int lines, const QString &widthText);
    // The title as the controls give it (layout code rebuilt).
    structedit::TitleContent content() const;
    // The number of text lines and the column width as typed.
    int lineCount() const;
    QString widthText() const;

    // Draws the current title onto the image.
    void PreviewTitle(QLabel *image, const QColor &color);
    void FormResize();
    void SpinEdit3Change();
    // OK: closes the dialog unless the width is no number.
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QFont previewFont() const;
    bool m_shown = false;
};
