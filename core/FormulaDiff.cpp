#include "core/FormulaDiff.h"

#include "core/FormulaHighlighter.h"
#include "core/SharedWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QTextEdit>
#include <QVBoxLayout>

TFormulaDiff::TFormulaDiff(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormulaDiff"));
    setWindowTitle(QStringLiteral("Формулы с расхождениями"));
    resize(900, 600);
    if (QScreen *s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());

    auto *box = new QVBoxLayout(this);
    m_ui.listCaption = new QLabel(QStringLiteral("Список формул с расхождениями:"), this);
    m_ui.listCaption->setObjectName(QStringLiteral("Label1"));
    box->addWidget(m_ui.listCaption);

    m_ui.splitter = new QSplitter(Qt::Horizontal, this);
    m_ui.splitter->setObjectName(QStringLiteral("Splitter1"));
    box->addWidget(m_ui.splitter, 1);

    m_ui.list = new QPlainTextEdit(m_ui.splitter);
    m_ui.list->setObjectName(QStringLiteral("Memo1"));
    m_ui.list->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_ui.list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_ui.list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_ui.splitter->addWidget(m_ui.list);

    m_ui.decipherPanel = new QWidget(m_ui.splitter);
    m_ui.decipherPanel->setObjectName(QStringLiteral("Panel1"));
    auto *panelBox = new QVBoxLayout(m_ui.decipherPanel);
    panelBox->setContentsMargins(0, 0, 0, 0);
    m_ui.decipherCaption = new QLabel(QStringLiteral("Расшифровка формулы:"), m_ui.decipherPanel);
    m_ui.decipherCaption->setObjectName(QStringLiteral("Label3"));
    panelBox->addWidget(m_ui.decipherCaption);
    m_ui.decipher = new QTextEdit(m_ui.decipherPanel);
    m_ui.decipher->setObjectName(QStringLiteral("RichEdit1"));
    m_ui.decipher->setReadOnly(true);
    m_ui.decipher->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_ui.decipher->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    panelBox->addWidget(m_ui.decipher, 1);
    m_ui.splitter->addWidget(m_ui.decipherPanel);
    m_ui.splitter->setSizes({450, 450});

    m_highlighter = std::make_unique<TFormulaHighlighter>(m_ui.list, m_ui.decipher);
    connect(m_ui.list, &QPlainTextEdit::textChanged, this, &TFormulaDiff::decipherAtCaret);
    m_ui.list->viewport()->installEventFilter(this);
    m_ui.list->installEventFilter(this);
}

TFormulaDiff::~TFormulaDiff() = default;

void TFormulaDiff::setLines(const QStringList &lines) { m_ui.list->setPlainText(lines.join(u'\n')); }

void TFormulaDiff::SetTablesMode(bool on) {
    m_tablesMode = on;
    m_ui.decipherPanel->setVisible(!on);
    m_ui.listCaption->setText(on ? QStringLiteral("Список таблиц с расхождениями:")
                       : QStringLiteral("Список формул с расхождениями:"));
}

void TFormulaDiff::decipherAtCaret() {
    if (!m_tablesMode && m_highlighter) m_highlighter->Update();
}

bool TFormulaDiff::eventFilter(QObject *watched, QEvent *event) {
    const bool click = watched == m_ui.list->viewport() && event->type() == QEvent::MouseButtonRelease;
    const bool keyUp = watched == m_ui.list && event->type() == QEvent::KeyRelease;
    if (click || keyUp) {
        // Let the caret move first, then decipher what is under it.
        const bool handled = QDialog::eventFilter(watched, event);
        decipherAtCaret();
        return handled;
    }
    return QDialog::eventFilter(watched, event);
}

TFormulaDiff &FormulaDiff() { return SharedWindow<TFormulaDiff>::get(); }
