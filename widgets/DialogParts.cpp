#include "widgets/DialogParts.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>

namespace dlgparts {

QHBoxLayout *okCancelRow(QDialog *dialog, QPushButton *&ok, QPushButton *&cancel) {
    ok = new QPushButton(QStringLiteral("OK"), dialog);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);
    cancel = new QPushButton(QStringLiteral("Отказ"), dialog);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return row;
}

const QKeyEvent *keyPressOn(const QObject *watched, const QObject *target, const QEvent *event) {
    if (watched != target || event->type() != QEvent::KeyPress) return nullptr;
    return static_cast<const QKeyEvent *>(event);
}

bool rejectOnEscape(QDialog *dialog, const QKeyEvent *event) {
    if (event->key() != Qt::Key_Escape) return false;
    dialog->reject();
    return true;
}

} // namespace dlgparts
