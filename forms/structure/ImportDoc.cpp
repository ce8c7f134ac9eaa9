#include "forms/structure/ImportDoc.h"

#include "core/ListWindow.h"
#include "engine/NumberFormat.h"
#include "platform/Errors.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/office/Show.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using importdoc::DocStructure;

TImportDocForm::TImportDocForm(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ImportDocForm"));
    setWindowTitle(QStringLiteral("Импорт документа"));
    m_ui.file = new QLineEdit(this);
    m_ui.browse = new QPushButton(QStringLiteral("Обзор..."), this);
    m_ui.tableIdent = new QLineEdit(QStringLiteral("5740"), this);
    m_ui.docTable = new QLineEdit(QStringLiteral("13"), this);
    m_ui.joinedTable = new QLineEdit(QStringLiteral("13"), this);
    m_ui.fixedColumns = new QLineEdit(QStringLiteral("2"), this);
    m_ui.fixedRows = new QLineEdit(QStringLiteral("3"), this);
    m_ui.import = new QPushButton(QStringLiteral("Импортировать"), this);
    m_ui.cancel = new QPushButton(QStringLiteral("Отмена"), this);
    m_ui.import->setDefault(true);
    m_ui.import->setAutoDefault(true);
    m_ui.cancel->setAutoDefault(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Выберите .doc файл:"), this));
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(m_ui.file, 1);
    fileRow->addWidget(m_ui.browse);
    layout->addLayout(fileRow);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Номер таблицы в БД:"), m_ui.tableIdent);
    form->addRow(QStringLiteral("Таблица в .doc:"), m_ui.docTable);
    form->addRow(QStringLiteral("Таблица в .doc для присоединения справа:"), m_ui.joinedTable);
    form->addRow(QStringLiteral("Фиксированные столбцы:"), m_ui.fixedColumns);
    form->addRow(QStringLiteral("Фиксированные строки:"), m_ui.fixedRows);
    layout->addLayout(form);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ui.import);
    buttons->addWidget(m_ui.cancel);
    layout->addLayout(buttons);
    resize(520, sizeHint().height());

    connect(m_ui.browse, &QPushButton::clicked, this, &TImportDocForm::chooseFile);
    connect(m_ui.import, &QPushButton::clicked, this, &TImportDocForm::importStructure);
    connect(m_ui.cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TImportDocForm::chooseFile() {
    const QString current = m_ui.file->text().trimmed();
    const QString file = dialogs().openFile(this, QStringLiteral("Выберите .doc файл"),
                                            current.isEmpty() ? office::documentsFolder() : QFileInfo(current).absolutePath(),
                                            QStringLiteral("Документы Word (*.doc *.docx);;Все файлы (*)"));
    if (!file.isEmpty()) m_ui.file->setText(file);
}

DocStructure TImportDocForm::extract(const QString &path, int n) {
    try {
        return importdoc::ExtractDocTableStructure(path, n);
    } catch (const importdoc::Error &e) {
        showError(e.message(), this);
    }
    return {};
}

bool TImportDocForm::ReportDocTableStructure(const DocStructure &s, qint64 ident, int fixcols, int fixrows) {
    if (s.isEmpty()) return false;
    try {
        importdoc::UpdateTableStructure(ident, s, fixcols, fixrows);
    } catch (const AppError &e) {
        showError(e.message() + QStringLiteral("\r\nОшибка при обновлении структуры в базе данных!"), this);
        return false;
    }
    // The titles found, however many, go to the list window, which scrolls
    // and prints; a message box would outgrow the screen.
    QStringList lines;
    int count = 0;
    for (int r = 1; r <= s.rows; ++r)
        for (int c = 1; c <= s.cols; ++c) {
            const importdoc::DocCell &cell = s.at(r, c);
            if (!cell.filled || cell.text.trimmed().isEmpty()) continue;
            ++count;
            QString title = cell.text;
            title.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(u'\n', u' ').replace(u'\r', u' ');
            title.replace(u'\t', u' ');
            lines << QStringLiteral("%1(%2)\t%3(%4)\t%5").arg(r).arg(cell.startRow).arg(c).arg(cell.startColumn).arg(title);
        }
    TForm1 &list = Form1();
    list.setWindowTitle(QStringLiteral("Структура таблицы"));
    ShowTextList(lines, QStringLiteral("Строка\tСтолбец\tЗаголовок"));
    list.setHeading(QStringLiteral("Размер таблицы: %1, %2. Найдено заголовков: %3")
                        .arg(num::counted(s.rows, QStringLiteral("строка"), QStringLiteral("строки"),
                                          QStringLiteral("строк")),
                             num::counted(s.cols, QStringLiteral("столбец"), QStringLiteral("столбца"),
                                          QStringLiteral("столбцов")))
                        .arg(count));
    execModal(&list);
    return true;
}

void TImportDocForm::importStructure() {
    winutil::guarded(this, [&] {
        auto required = [&](QLineEdit *edit, const QString &message) {
            if (!edit->text().trimmed().isEmpty()) return true;
            showMessage(message, this);
            edit->setFocus();
            return false;
        };
        if (!required(m_ui.file, QStringLiteral("Выберите файл для анализа!"))) return;
        if (!required(m_ui.tableIdent, QStringLiteral("Введите номер таблицы в БД!"))) return;
        if (!required(m_ui.docTable, QStringLiteral("Введите номер таблицы в документе!"))) return;

        bool ok = true;
        auto number = [&](QLineEdit *edit, int emptyValue) {
            const QString t = edit->text().trimmed();
            if (t.isEmpty()) return emptyValue;
            bool good = false;
            const int v = t.toInt(&good);
            if (!good) ok = false;
            return v;
        };
        const int f = number(m_ui.docTable, 0);
        const int g = number(m_ui.joinedTable, 0);
        const int fixcols = number(m_ui.fixedColumns, 0);
        const int fixrows = number(m_ui.fixedRows, 0);
        const QString identText = m_ui.tableIdent->text().trimmed();
        bool identOk = false;
        const qint64 ident = identText.toLongLong(&identOk);
        if (!ok || !identOk || fixcols < 0 || fixrows < 0) {
            showMessage(QStringLiteral("Поля с номерами должны содержать только числа!"), this);
            return;
        }
        if (!db::scalar(db::connection(db::kMain), QStringLiteral("select ident from tables where ident=?"), {ident})
                 .isValid()) {
            showMessage(QStringLiteral("Таблица ") + identText + QStringLiteral(" не найдена!"), this);
            m_ui.tableIdent->setFocus();
            return;
        }

        const QString path = m_ui.file->text().trimmed();
        DocStructure s1 = extract(path, f);
        if (g > 0) {
            const DocStructure s2 = extract(path, g);
            if (!importdoc::joinRight(s1, s2, fixcols))
                showMessage(QStringLiteral("Вторая таблица не импортирована, тк в таблицах разное количество строк"),
                            this);
        }
        if (s1.isEmpty()) {
            showMessage(QStringLiteral("Не удалось извлечь структуру таблицы из документа!"), this);
            return;
        }
        const QString fault = importdoc::structureFault(s1, fixcols, fixrows);
        if (!fault.isEmpty()) {
            showMessage(fault, this);
            (fixrows > s1.rows ? m_ui.fixedRows : m_ui.fixedColumns)->setFocus();
            return;
        }
        // A failure has been told by now.
        if (!ReportDocTableStructure(s1, ident, fixcols, fixrows)) return;
        // The one closing box.
        showMessage(QStringLiteral("Анализ структуры таблицы выполнен успешно!\r\nФайл: %1\r\nНомер таблицы в БД: %2"
                                   "\r\nНомер таблицы в документе: %3\r\nФиксированные столбцы: %4"
                                   "\r\nФиксированные строки: %5")
                        .arg(path)
                        .arg(ident)
                        .arg(f)
                        .arg(fixcols)
                        .arg(fixrows),
                    this);
        accept();
    });
}
