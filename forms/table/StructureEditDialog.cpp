#include "forms/table/StructureEditDialog.h"
#include "engine/CellNumbering.h"
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
    connect(m_group, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) emit chosen();
    });
}

int RadioGroup::itemIndex() const { return m_group->checkedId(); }

void RadioGroup::setItemIndex(int index) {
    if (QAbstractButton *b = m_group->button(index)) b->setChecked(true);
}

TTitles::TTitles(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Titles"));
    setWindowTitle(QStringLiteral("Корректировка заголовков таблицы"));

    m_ui.preview = new QLabel(this);
    m_ui.preview->setFrameShape(QFrame::Box);
    m_ui.preview->setFixedSize(153, 49);

    m_ui.fields = new QWidget(this);
    auto *grid = new QGridLayout(m_ui.fields);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    grid->addWidget(new QLabel(QStringLiteral("Текст"), m_ui.fields), row++, 0, 1, 4);
    m_ui.text = new QPlainTextEdit(m_ui.fields);
    m_ui.text->setFixedHeight(64);
    grid->addWidget(m_ui.text, row++, 0, 1, 4);

    grid->addWidget(new QLabel(QStringLiteral("Шрифт"), m_ui.fields), row, 0);
    m_ui.font = new QComboBox(m_ui.fields);
    m_ui.font->setEditable(true);
    // The screen's fonts and the names the stored titles use for them.
    QStringList fontNames = QFontDatabase::families() + QFont::substitutions();
    fontNames.removeDuplicates();
    fontNames.sort(Qt::CaseInsensitive);
    m_ui.font->addItems(fontNames);
    m_ui.font->setMinimumWidth(180);
    // A name typed or passed with Tab keeps its letters: the list also holds
    // the substitutes' lower-case names, which must not replace it.
    if (m_ui.font->completer()) m_ui.font->completer()->setCaseSensitivity(Qt::CaseSensitive);
    grid->addWidget(m_ui.font, row, 1, 1, 2);
    m_ui.fontSize = new QSpinBox(m_ui.fields);
    m_ui.fontSize->setRange(1, limits::kMaxFontSize);
    m_ui.fontSize->setValue(10);
    grid->addWidget(m_ui.fontSize, row++, 3);

    m_ui.bold = new QCheckBox(QStringLiteral("Жирный"), m_ui.fields);
    m_ui.italic = new QCheckBox(QStringLiteral("Наклонный"), m_ui.fields);
    m_ui.rotated = new QCheckBox(QStringLiteral("Вертикальный"), m_ui.fields);
    auto *boxes = new QHBoxLayout;
    boxes->addWidget(m_ui.bold);
    boxes->addWidget(m_ui.italic);
    boxes->addWidget(m_ui.rotated);
    boxes->addStretch(1);
    grid->addLayout(boxes, row++, 0, 1, 4);

    m_ui.horizontalAlign = new RadioGroup(QStringLiteral("Выравнивание по горизонтали"),
                                 {QStringLiteral("Влево"), QStringLiteral("По центру"), QStringLiteral("Вправо")}, m_ui.fields);
    m_ui.verticalAlign = new RadioGroup(QStringLiteral("Выравнивание по вертикали"),
                                 {QStringLiteral("Вверх"), QStringLiteral("По центру"), QStringLiteral("Вниз")}, m_ui.fields);
    grid->addWidget(m_ui.horizontalAlign, row, 0, 1, 2);
    grid->addWidget(m_ui.verticalAlign, row++, 2, 1, 2);

    grid->addWidget(new QLabel(QStringLiteral("Сдвиг"), m_ui.fields), row, 0);
    m_ui.indent = new QSpinBox(m_ui.fields);
    m_ui.indent->setRange(0, 9);
    grid->addWidget(m_ui.indent, row, 1);
    grid->addWidget(new QLabel(QStringLiteral("Число строк текста"), m_ui.fields), row, 2);
    m_ui.lines = new QSpinBox(m_ui.fields);
    m_ui.lines->setRange(0, 99);
    grid->addWidget(m_ui.lines, row++, 3);

    grid->addWidget(new QLabel(QStringLiteral("Ширина столбца"), m_ui.fields), row, 0, 1, 2);
    m_ui.width = new QLineEdit(m_ui.fields);
    grid->addWidget(m_ui.width, row++, 2, 1, 2);

    m_ui.ok = new QPushButton(QStringLiteral("OK"), m_ui.fields);
    m_ui.cancel = new QPushButton(QStringLiteral("Отказ"), m_ui.fields);
    m_ui.ok->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ui.ok);
    buttons->addWidget(m_ui.cancel);
    buttons->addStretch(1);
    grid->addLayout(buttons, row++, 0, 1, 4);
    // The preview above the fields, both centred; the window is as large as
    // they are (on a screen too small for it, its parts scroll).
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(15, 10, 15, 10);
    layout->setSpacing(10);
    layout->addWidget(m_ui.preview, 0, Qt::AlignHCenter);
    layout->addWidget(m_ui.fields, 0, Qt::AlignHCenter);

    connect(m_ui.ok, &QPushButton::clicked, this, &TTitles::acceptTitle);
    connect(m_ui.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui.lines, &QSpinBox::valueChanged, this, [this](int) { linesChanged(); });
    connect(m_ui.text, &QPlainTextEdit::textChanged, this, &TTitles::previewChanged);
    connect(m_ui.font, &QComboBox::currentTextChanged, this, &TTitles::previewChanged);
    connect(m_ui.fontSize, &QSpinBox::valueChanged, this, &TTitles::previewChanged);
    connect(m_ui.indent, &QSpinBox::valueChanged, this, &TTitles::previewChanged);
    for (QCheckBox *b : {m_ui.bold, m_ui.italic, m_ui.rotated}) connect(b, &QCheckBox::toggled, this, &TTitles::previewChanged);
    for (RadioGroup *g : {m_ui.horizontalAlign, m_ui.verticalAlign}) connect(g, &RadioGroup::chosen, this, &TTitles::previewChanged);
    connect(m_ui.width, &QLineEdit::textChanged, this, &TTitles::previewChanged);
    FormResize();
}

void TTitles::setTitle(const structedit::TitleContent &c, int lines, const QString &widthText) {
    m_ui.text->setPlainText(c.text);
    // The title's own font stays available even when this screen lacks it.
    if (!c.fontName.trimmed().isEmpty() &&
        m_ui.font->findText(c.fontName, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0)
        m_ui.font->addItem(c.fontName);
    m_ui.font->setCurrentText(c.fontName);
    m_ui.fontSize->setValue(c.fontSize);
    m_ui.bold->setChecked(c.bold);
    m_ui.italic->setChecked(c.italic);
    const structedit::TitleCodeChoice code = structedit::parseTitleCodeChoice(c.tchars);
    m_ui.verticalAlign->setItemIndex(code.vertical);
    m_ui.horizontalAlign->setItemIndex(code.horizontal);
    m_ui.rotated->setChecked(code.rotated);
    m_ui.indent->setValue(code.indent);
    m_ui.lines->setValue(lines);
    m_ui.width->setText(widthText);
}

void TTitles::acceptTitle() {
    // A width that is no number, or a font name the structure file could not
    // carry, is refused here, with the dialog and everything typed in it
    // still open.
    QString fontFault = frs::fieldFault(QStringLiteral("Шрифт"), m_ui.font->currentText());
    if (fontFault.isEmpty() && (m_ui.font->currentText().trimmed().isEmpty() ||
                                m_ui.font->findText(m_ui.font->currentText(), Qt::MatchFixedString) < 0))
        fontFault = QStringLiteral("Выберите шрифт из списка: \"%1\" в нем нет").arg(m_ui.font->currentText());
    if (!fontFault.isEmpty()) {
        showMessage(fontFault, this);
        m_ui.font->setFocus();
        return;
    }
    if (m_ui.lines->value() > 0 &&
        structedit::titleRowHeight(m_ui.fontSize->value(), m_ui.lines->value()) > limits::kMaxLineSize) {
        showMessage(QStringLiteral("Строк текста %1 размером %2 не поместится в строку таблицы: ее высота не может "
                                   "быть больше %3")
                        .arg(m_ui.lines->value())
                        .arg(m_ui.fontSize->value())
                        .arg(limits::kMaxLineSize),
                    this);
        m_ui.lines->setFocus();
        return;
    }
    if (const QString why = text::entryProblem(m_ui.text->toPlainText(), QStringLiteral("Текст заголовка")); !why.isEmpty()) {
        showMessage(why, this);
        m_ui.text->setFocus();
        return;
    }
    try {
        structedit::parseTitleWidth(m_ui.width->text());
    } catch (const AppError &e) {
        showMessage(e.message(), this);
        m_ui.width->setFocus();
        m_ui.width->selectAll();
        return;
    }
    accept();
}

int TTitles::lineCount() const { return m_ui.lines->value(); }
QString TTitles::widthText() const { return m_ui.width->text(); }

structedit::TitleContent TTitles::content() const {
    structedit::TitleContent c;
    c.fontName = m_ui.font->currentText();
    c.fontSize = m_ui.fontSize->value();
    c.bold = m_ui.bold->isChecked();
    c.italic = m_ui.italic->isChecked();
    c.tchars = structedit::makeTitleCode(m_ui.verticalAlign->itemIndex(), m_ui.horizontalAlign->itemIndex(), m_ui.rotated->isChecked(),
                                         m_ui.indent->value());
    c.text = m_ui.text->toPlainText();
    return c;
}

QFont TTitles::previewFont() const {
    QFont f(m_ui.font->currentText());
    f.setPointSize(m_ui.fontSize->value());
    f.setBold(m_ui.bold->isChecked());
    f.setItalic(m_ui.italic->isChecked());
    return f;
}

void TTitles::PreviewTitle(QLabel *image, const QColor &color) {
    const QSize size = image->size().expandedTo(QSize(1, 1));
    QPixmap pm(size);
    pm.fill(color);
    GridTitle t;
    t.font = previewFont();
    t.tchars = content().tchars;
    t.text = m_ui.text->toPlainText();
    t.background = color;
    QPainter p(&pm);
    TableGrid::drawTitle(p, t, QRect(QPoint(0, 0), size));
    p.end();
    image->setPixmap(pm);
}

void TTitles::FormResize() {
    if (layout()) layout()->activate();
}

void TTitles::linesChanged() {
    if (!m_shown) return;
    const QFontMetrics fm(previewFont());
    const int h = std::max(1, fm.height() * m_ui.lines->value());
    m_ui.preview->setFixedHeight(h);
    FormResize();
    PreviewTitle(m_ui.preview, Qt::white);
    m_ui.preview->update();
}

void TTitles::previewChanged() {
    if (!m_shown) return;
    // A width that is no number yet (being typed) leaves the preview as wide as it was.
    std::optional<double> width;
    try {
        width = structedit::parseTitleWidth(m_ui.width->text());
    } catch (const AppError &) {
    }
    if (width) {
        const int room = screen() ? screen()->availableGeometry().width() * 2 / 3 : 600;
        m_ui.preview->setFixedWidth(std::clamp(cells::tableWindowPixels(*width, logicalDpiY() > 0 ? logicalDpiY() : 96),
                                               8, room));
        FormResize();
    }
    PreviewTitle(m_ui.preview, Qt::white);
    m_ui.preview->update();
}

void TTitles::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // Caret to the end of the text; the preview of the title as it stands.
    QTextCursor cursor = m_ui.text->textCursor();
    cursor.movePosition(QTextCursor::End);
    m_ui.text->setTextCursor(cursor);
    if (!m_shown) {
        m_shown = true;
        previewChanged();
        FormResize();
        if (QScreen *sc = screen()) move(sc->availableGeometry().center() - rect().center());
    }
}
