#include "core/CaptionLabel.h"

#include <QColor>
#include <QLabel>
#include <QPalette>

void paintCaptionBackground(QLabel *label) {
    label->setAutoFillBackground(true);
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, QColor(0, 255, 255));
    label->setPalette(pal);
}

QLabel *newCaptionLabel(QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    paintCaptionBackground(label);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(pal);
    return label;
}
