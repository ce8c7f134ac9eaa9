#include "core/WarningWindow.h"

#include "core/SharedWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QLabel *centred(const QString &text, QWidget *parent, int pointSize = 0, bool bold = false) {
    auto *l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignCenter);
    l->setWordWrap(true);
    QFont f = l->font();
    if (pointSize > 0) f.setPointSize(pointSize);
    f.setBold(bold);
    l->setFont(f);
    return l;
}
} // namespace

TForm3::TForm3(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Внимание!"));
    resize(856, 296);
    auto *box = new QVBoxLayout(this);
    box->addWidget(centred(QStringLiteral("Внимание!"), this, 16, true));
    box->addWidget(centred(QStringLiteral("Вы собрались вывести  форму № для отчета!"), this, 12, true));
    box->addWidget(centred(
        QStringLiteral("Не забывайте, что  другой попытки  распечатать эту форму  у Вас НЕ будет..."), this, 12));
    box->addWidget(centred(QStringLiteral("Если Вы измените данные в форме после ее печати в этом режиме, "
                                          "Вам придется объяснять эти изменения при сдаче формы"),
                           this, 10));
    box->addWidget(centred(QStringLiteral("Печатать форму?"), this, 12, true));
    auto *buttons = new QHBoxLayout;
    m_ui.yes = new QPushButton(QStringLiteral("Да"), this);
    m_ui.yes->setObjectName(QStringLiteral("YesButton"));
    m_ui.no = new QPushButton(QStringLiteral("Нет"), this);
    m_ui.no->setObjectName(QStringLiteral("NoButton"));
    buttons->addStretch(1);
    buttons->addWidget(m_ui.yes);
    buttons->addWidget(m_ui.no);
    buttons->addStretch(1);
    box->addLayout(buttons);
    connect(m_ui.yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui.no, &QPushButton::clicked, this, &QDialog::reject);
}

TForm3 &Form3() { return SharedWindow<TForm3>::get(); }
