// Another window's own numbered command, in a file that opens no table window.
void runReport(QDialog *w) {
    w->N7->trigger();
}
