#pragma once
// The caption strip over a list, a rule grid or an indicator table: a cyan
// background behind the text.
class QLabel;
class QWidget;

// Gives a label the caption's cyan background.
void paintCaptionBackground(QLabel *label);

// A new caption label: black text, centred and wrapped, on the cyan background.
QLabel *newCaptionLabel(QWidget *parent);
