#include "forms/table/StructureEditDialog.h"
#include "engine/TextUtil.h"

#include "engine/TableLimits.h"

#include "forms/structure/FormCatalogLogic.h"
#include "forms/table/TableGrid.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QCompleter>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>

RadioGroup::RadioGroup(const QString &caption, const QStringList &items, QWidget *parent)
    : QGroupBox(caption, parent), m_group(new QButtonGroup(this)) {
    auto *l = new QVBoxLayout(this);
    l->setContentsMargins(6, 4, 6, 4);
    l->setSpacing(2);
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items[i], this);
        m_group->addButton(b, i);
        l->addWidget(b);
    }
    setItemIndex(0);
}

int RadioGroup::itemIndex() const { return m_group->checkedId(); }

void RadioGroup::setItemIndex(int index) {
    if (QAbstractButton *b = m_group->button(index)) b->setChecked(true);
}

TTitles::TTitles(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Titles"));
    setWindowTitle(QStringLiteral("Корректировка заголовков таблицы"));

    Image1 = new QLabel(this);
    Image1->setFrameShape(QFrame::Box);
    Image1->setFixedSize(153, 49);

    pp = new QWidget(this);
    auto *grid = new QGridLayout(pp);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    grid->addWidget(new QLabel(QStringLiteral("Текст"), pp), row++, 0, 1, 4);
    Memo1 = new QPlainTextEdit(pp);
    Memo1->setFixedHeight(64);
    grid->addWidget(Memo1, row++, 0, 1, 4);

    grid->addWidget(new QLabel(QStringLiteral("Шрифт"), pp), row, 0);
    ComboBox1 = new QComboBox(pp);
    ComboBox1->setEditable(true);
    // The screen's fonts and the names the stored titles use for them.
    QStringList fontNames = QFontDatabase::families() + QFont::substitutions();
    fontNames.removeDuplicates();
    fontNames.sort(Qt::CaseInsensitive);
    ComboBox1->addItems(fontNames);
    ComboBox1->setMinimumWidth(180);
    // A name typed or passed with Tab keeps its letters: the list also holds
    // the substitutes' lower-case names, which must not replace it.
    if (ComboBox1->completer()) ComboBox1->completer()->setCaseSensitivity(Qt::CaseSensitive);
    grid->addWidget(ComboBox1, row, 1, 1, 2);
    SpinEdit1 = new QSpinBox(pp);
    SpinEdit1->setRange(1, limits::kMaxFontSize);
    SpinEdit1->setValue(10);
    grid->addWidget(SpinEdit1, row++, 3);

    CheckBox1 = new QCheckBox(QStringLiteral("Жирный"), pp);
    CheckBox2 = new QCheckBox(QStringLiteral("Наклонный"), pp);
    CheckBox3 = new QCheckBox(QStringLiteral("Вертикальный"), pp);
    auto *boxes = new QHBoxLayout;
    boxes->addWidget(CheckBox1);
    boxes->addWidget(CheckBox2);
    boxes->addWidget(CheckBox3);
    boxes->addStretch(1);
    grid->addLayout(boxes, row++, 0, 1, 4);

    RadioGroup1 = new RadioGroup(QStringLiteral("Выравнивание по горизонтали"),
                                 {QStringLiteral("Влево"), QStringLiteral("По центру"), QStringLiteral("Вправо")}, pp);
    RadioGroup2 = new RadioGroup(QStringLiteral("Выравнивание по вертикали"),
                                 {QStringLiteral("Вверх"), QStringLiteral("По центру"), QStringLiteral("Вниз")}, pp);
    grid->addWidget(RadioGroup1, row, 0, 1, 2);
    grid->addWidget(RadioGroup2, row++, 2, 1, 2);

    grid->addWidget(new QLabel(QStringLiteral("Сдвиг"), pp), row, 0);
    SpinEdit2 = new QSpinBox(pp);
    SpinEdit2->setRange(0, 9);
    grid->addWidget(SpinEdit2, row, 1);
    grid->addWidget(new QLabel(QStringLiteral("Число строк текста"), pp), row, 2);
    SpinEdit3 = new QSpinBox(pp);
    SpinEdit3->setRange(0, 99);
    grid->addWidget(SpinEdit3, row++, 3);

    grid->addWidget(new QLabel(QStringLiteral("Ширина столбца"), pp), row, 0, 1, 2);
    Edit1 = new QLineEdit(pp);
    grid->addWidget(Edit1, row++, 2, 1, 2);

    BitBtn1 = new QPushButton(QStringLiteral("OK"), pp);
    BitBtn2 = new QPushButton(QStringLiteral("Отказ"), pp);
    BitBtn1->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addStretch(1);
    grid->addLayout(buttons, row++, 0, 1, 4);
    // The preview above the fields, both centred; the window is as large as
    // they are (on a screen too small for it, its parts scroll).
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(15, 10, 15, 10);
    layout->setSpacing(10);
    layout->addWidget(Image1, 0, Qt::AlignHCenter);
    layout->addWidget(pp, 0, Qt::AlignHCenter);

    connect(BitBtn1, &QPushButton::clicked, this, &TTitles::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(SpinEdit3, &QSpinBox::valueChanged, this, [this](int) { SpinEdit3Change(); });
    FormResize();
}

void TTitles::setTitle(const structedit::TitleContent &c, int lines, const QString &widthText) {
    Memo1->setPlainText(c.text);
    // The title's own font stays available even when this screen lacks it.
    if (!c.fontName.trimmed().isEmpty() &&
        ComboBox1->findText(c.fontName, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0)
        ComboBox1->addItem(c.fontName);
    ComboBox1->setCurrentText(c.fontName);
    SpinEdit1->setValue(c.fontSize);
    CheckBox1->setChecked(c.bold);
    CheckBox2->setChecked(c.italic);
    const structedit::TitleCodeChoice code = structedit::parseTitleCodeChoice(c.tchars);
    RadioGroup2->setItemIndex(code.vertical);
    RadioGroup1->setItemIndex(code.horizontal);
    CheckBox3->setChecked(code.rotated);
    SpinEdit2->setValue(code.indent);
    SpinEdit3->setValue(lines);
    Edit1->setText(widthText);
}

void TTitles::BitBtn1Click() {
    // A width that is no number, or a font name the structure file could not
    // carry, is refused here, with the dialog and everything typed in it
    // still open.
    QString fontFault = frs::fieldFault(QStringLiteral("Шрифт"), ComboBox1->currentText());
    if (fontFault.isEmpty() && (ComboBox1->currentText().trimmed().isEmpty() ||
                                ComboBox1->findText(ComboBox1->currentText(), Qt::MatchFixedString) < 0))
        fontFault = QStringLiteral("Выберите шрифт из списка: \"%1\" в нем нет").arg(ComboBox1->currentText());
    if (!fontFault.isEmpty()) {
        showMessage(fontFault, this);
        ComboBox1->setFocus();
        return;
    }
    if (SpinEdit3->value() > 0 &&
        structedit::titleRowHeight(SpinEdit1->value(), SpinEdit3->value()) > limits::kMaxLineSize) {
        showMessage(QStringLiteral("Строк текста %1 размером %2 не поместится в строку таблицы: ее высота не может "
                                   "быть больше %3")
                        .arg(SpinEdit3->value())
                        .arg(SpinEdit1->value())
                        .arg(limits::kMaxLineSize),
                    this);
        SpinEdit3->setFocus();
        return;
    }
    if (const QString why = text::entryProblem(Memo1->toPlainText(), QStringLiteral("Текст заголовка")); !why.isEmpty()) {
        showMessage(why, this);
        Memo1->setFocus();
        return;
    }
    try {
        structedit::parseTitleWidth(Edit1->text());
    } catch (const AppError &e) {
        showMessage(e.message(), this);
        Edit1->setFocus();
        Edit1->selectAll();
        return;
    }
    accept();
}

int TTitles::lineCount() const { return SpinEdit3->value(); }
QString TTitles::widthText() const { return Edit1->text(); }

structedit::TitleContent TTitles::content() const {
    structedit::TitleContent c;
    c.fontName = ComboBox1->currentText();
    c.fontSize = SpinEdit1->value();
    c.bold = CheckBox1->isChecked();
    c.italic = CheckBox2->isChecked();
    c.tchars = structedit::makeTitleCode(RadioGroup2->itemIndex(), RadioGroup1->itemIndex(), CheckBox3->isChecked(),
                                         SpinEdit2->value());
    c.text = Memo1->toPlainText();
    return c;
}

QFont TTitles::previewFont() const {
    QFont f(ComboBox1->currentText());
    f.setPointSize(SpinEdit1->value());
    f.setBold(CheckBox1->isChecked());
    f.setItalic(CheckBox2->isChecked());
    return f;
}

void TTitles::PreviewTitle(QLabel *image, const QColor &color) {
    const QSize size = image->size().expandedTo(QSize(1, 1));
    QPixmap pm(size);
    pm.fill(color);
    GridTitle t;
    t.font = previewFont();
    t.tchars = content().tchars;
    t.text = Memo1->toPlainText();
    t.background = color;
    QPainter p(&pm);
    TableGrid::drawTitle(p, t, QRect(QPoint(0, 0), size));
    p.end();
    image->setPixmap(pm);
}

void TTitles::FormResize() {
    if (layout()) layout()->activate();
}

void TTitles::SpinEdit3Change() {
    if (!m_shown) return;
    const QFontMetrics fm(previewFont());
    const int h = std::max(1, fm.height() * SpinEdit3->value());
    Image1->setFixedHeight(h);
    FormResize();
    PreviewTitle(Image1, Qt::white);
    Image1->update();
}

void TTitles::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // Caret to the end of the text; the preview of the title as it stands.
    QTextCursor cursor = Memo1->textCursor();
    cursor.movePosition(QTextCursor::End);
    Memo1->setTextCursor(cursor);
    PreviewTitle(Image1, Qt::white);
    if (!m_shown) {
        m_shown = true;
        FormResize();
        if (QScreen *sc = screen()) move(sc->availableGeometry().center() - rect().center());
    }
}
