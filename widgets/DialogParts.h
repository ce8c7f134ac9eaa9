#pragma once
// Small pieces the dialogs share: the OK/"Отказ" button row, key
// presses caught on a child and Esc closing the dialog.
class QDialog;
class QEvent;
class QHBoxLayout;
class QKeyEvent;
class QObject;
class QPushButton;

namespace dlgparts {

// A row with "OK" (default, accepts; named "BitBtn1") and "Отказ" (rejects;
// named "BitBtn2") at its right.
QHBoxLayout *okCancelRow(QDialog *dialog, QPushButton *&ok, QPushButton *&cancel);

// The key event when event is a key press on target (watched by a filter),
// else null.
const QKeyEvent *keyPressOn(const QObject *watched, const QObject *target, const QEvent *event);

// Esc rejects the dialog: true when the key was Esc and the dialog rejected.
bool rejectOnEscape(QDialog *dialog, const QKeyEvent *event);

} // namespace dlgparts
