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
    Label1 = new QLabel(QStringLiteral("Список формул с расхождениями:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    box->addWidget(Label1);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    box->addWidget(Splitter1, 1);

    Memo1 = new QPlainTextEdit(Splitter1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Splitter1->addWidget(Memo1);

    Panel1 = new QWidget(Splitter1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto *panelBox = new QVBoxLayout(Panel1);
    panelBox->setContentsMargins(0, 0, 0, 0);
    Label3 = new QLabel(QStringLiteral("Расшифровка формулы:"), Panel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    panelBox->addWidget(Label3);
    RichEdit1 = new QTextEdit(Panel1);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setReadOnly(true);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    panelBox->addWidget(RichEdit1, 1);
    Splitter1->addWidget(Panel1);
    Splitter1->setSizes({450, 450});

    m_highlighter = std::make_unique<TFormulaHighlighter>(Memo1, RichEdit1);
    connect(Memo1, &QPlainTextEdit::textChanged, this, &TFormulaDiff::Memo1Change);
    Memo1->viewport()->installEventFilter(this);
    Memo1->installEventFilter(this);
}

TFormulaDiff::~TFormulaDiff() = default;

void TFormulaDiff::setLines(const QStringList &lines) { Memo1->setPlainText(lines.join(u'\n')); }

void TFormulaDiff::SetTablesMode(bool on) {
    m_tablesMode = on;
    Panel1->setVisible(!on);
    Label1->setText(on ? QStringLiteral("Список таблиц с расхождениями:")
                       : QStringLiteral("Список формул с расхождениями:"));
}

void TFormulaDiff::Memo1Change() {
    if (!m_tablesMode && m_highlighter) m_highlighter->Update();
}

bool TFormulaDiff::eventFilter(QObject *watched, QEvent *event) {
    const bool click = watched == Memo1->viewport() && event->type() == QEvent::MouseButtonRelease;
    const bool keyUp = watched == Memo1 && event->type() == QEvent::KeyRelease;
    if (click || keyUp) {
        // Let the caret move first, then decipher what is under it.
        const bool handled = QDialog::eventFilter(watched, event);
        Memo1Change();
        return handled;
    }
    return QDialog::eventFilter(watched, event);
}

TFormulaDiff &FormulaDiff() { return SharedWindow<TFormulaDiff>::get(); }
