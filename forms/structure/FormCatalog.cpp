#include "forms/structure/FormCatalog.h"
#include "engine/CatalogRename.h"

#include "core/AdminMode.h"
#include "forms/shared/FormListCommon.h"
#include "forms/structure/ImportDoc.h"
#include "platform/Dialogs.h"
#include "platform/office/Show.h"
#include "widgets/WindowLayout.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace {

using winutil::guarded;

constexpr int kScanRole = Qt::UserRole + 1;

qint64 itemId(const QTreeWidgetItem *item) { return item ? item->data(0, Qt::UserRole).toLongLong() : 0; }

void setupReportList(QTreeWidget *list, const QStringList &headers) {
    list->setColumnCount(headers.size());
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setAllColumnsShowFocus(true);
    list->setUniformRowHeights(true);
}

QString frsFilter(bool save) {
    return save ? QStringLiteral("Файлы стуктуры форм (*.frs)") : QStringLiteral("Файлы структуры форм (*.frs)");
}

} // namespace

// ---- list with row drops --------------------------------------------------------------

TFormLView::TFormLView(QWidget *parent) : QTreeWidget(parent) {
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::InternalMove);
}

bool TFormLView::dropRowOn(QTreeWidgetItem *dragged, QTreeWidgetItem *target) {
    if (!dragged || !target || dragged == target) return false;
    const int to = indexOfTopLevelItem(target);
    auto *copy = new QTreeWidgetItem;
    for (int c = 0; c < columnCount(); ++c) copy->setText(c, dragged->text(c));
    copy->setData(0, Qt::UserRole, dragged->data(0, Qt::UserRole));
    insertTopLevelItem(to, copy);
    delete dragged;
    setCurrentItem(copy);
    emit rowMoved();
    return true;
}

void TFormLView::dragMoveEvent(QDragMoveEvent *event) {
    if (event->source() == this && itemAt(event->position().toPoint())) event->acceptProposedAction();
    else event->ignore();
}

void TFormLView::dropEvent(QDropEvent *event) {
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    if (event->source() != this) return;
    dropRowOn(currentItem(), itemAt(event->position().toPoint()));
}

// ---- one form ---------------------------------------------------------------------------

TFChar::TFChar(QWidget *parent, qint64 formId) : QDialog(parent), m_formId(formId) {
    setObjectName(QStringLiteral("FChar"));
    setWindowTitle(QStringLiteral("Отчетная форма..."));
    m_ui.name = new QLineEdit(this);
    m_ui.description = new QLineEdit(this);
    m_ui.net = new QCheckBox(QStringLiteral("Сетевая"), this);
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.cancel = new QPushButton(QStringLiteral("Отказ"), this);
    m_ui.ok->setDefault(true);
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Форма"), m_ui.name);
    form->addRow(QStringLiteral("Содержание"), m_ui.description);
    layout->addLayout(form);
    layout->addWidget(m_ui.net);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ui.ok);
    buttons->addWidget(m_ui.cancel);
    layout->addLayout(buttons);
    resize(460, sizeHint().height());
    connect(m_ui.ok, &QPushButton::clicked, this, &TFChar::acceptForm);
    connect(m_ui.cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFChar::setForm(const catalog::FormRow &form) {
    m_ui.name->setText(form.formname);
    m_ui.description->setText(form.decipher);
    m_ui.net->setChecked(form.net);
}

catalog::FormRow TFChar::form(qint64 id) const {
    return {id, m_ui.name->text(), m_ui.description->text(), m_ui.net->isChecked()};
}

void TFChar::acceptForm() {
    if (m_ui.name->text().trimmed().isEmpty()) {
        showMessage(QStringLiteral("Введите наименование формы!"), this);
        m_ui.name->setFocus();
        return;
    }
    QString fault = catalog::formFieldsFault(m_ui.name->text(), m_ui.description->text());
    const bool nameFault = !fault.isEmpty() && !frs::fieldFault(QString(), m_ui.name->text()).isEmpty();
    if (fault.isEmpty()) {
        guarded(this, [&] { fault = catalog::formIdentityFault(m_ui.name->text(), m_formId); });
        if (!fault.isEmpty()) {
            showMessage(fault, this);
            m_ui.name->setFocus();
            return;
        }
    }
    if (!fault.isEmpty()) {
        showMessage(fault, this);
        (nameFault ? m_ui.name : m_ui.description)->setFocus();
        return;
    }
    accept();
}

// ---- tables of a form -------------------------------------------------------------------

TFTabs::TFTabs(qint64 formId, QWidget *parent) : QDialog(parent), m_formId(formId) {
    setObjectName(QStringLiteral("FTabs"));
    winutil::fitToScreen(this, QSize(640, 460));
    m_ui.menuBar = new QMenuBar(this);
    m_ui.add = m_ui.menuBar->addAction(QStringLiteral("Добавить"));
    m_ui.add->setVisible(false);
    m_ui.edit = m_ui.menuBar->addAction(QStringLiteral("Корректировать"), this, &TFTabs::editTable);
    m_ui.remove = m_ui.menuBar->addAction(QStringLiteral("Удалить"), this, &TFTabs::deleteTable);
    m_ui.exit = m_ui.menuBar->addAction(QStringLiteral("Выход"), this, &QDialog::reject);

    m_ui.list = new QTreeWidget(this);
    setupReportList(m_ui.list, {QStringLiteral("Номер"), QStringLiteral("Содержание"), QStringLiteral("Нецелые"),
                                QStringLiteral("ID")});
    m_ui.list->setColumnWidth(0, 80);
    m_ui.list->setColumnWidth(1, 380);
    m_ui.list->setColumnWidth(2, 70);
    m_ui.list->installEventFilter(this);

    m_ui.editGroup = new QGroupBox(this);
    m_ui.number = new QLineEdit(m_ui.editGroup);
    m_ui.description = new QLineEdit(m_ui.editGroup);
    m_ui.floatValues = new QCheckBox(QStringLiteral("Нецелые значения"), m_ui.editGroup);
    m_ui.scanGroup = new QGroupBox(QStringLiteral("Формирование по..."), m_ui.editGroup);
    m_ui.byRows = new QRadioButton(QStringLiteral("Строкам"), m_ui.scanGroup);
    m_ui.byColumns = new QRadioButton(QStringLiteral("Графам"), m_ui.scanGroup);
    m_ui.scanButtons = new QButtonGroup(this);
    m_ui.scanButtons->addButton(m_ui.byRows, 0);
    m_ui.scanButtons->addButton(m_ui.byColumns, 1);
    auto *radioLayout = new QVBoxLayout(m_ui.scanGroup);
    radioLayout->addWidget(m_ui.byRows);
    radioLayout->addWidget(m_ui.byColumns);
    m_ui.ok = new QPushButton(QStringLiteral("OK"), m_ui.editGroup);
    m_ui.cancel = new QPushButton(QStringLiteral("Отказ"), m_ui.editGroup);
    auto *group = new QGridLayout(m_ui.editGroup);
    group->addWidget(new QLabel(QStringLiteral("Номер"), m_ui.editGroup), 0, 0);
    group->addWidget(m_ui.number, 0, 1);
    group->addWidget(new QLabel(QStringLiteral("Содержание"), m_ui.editGroup), 1, 0);
    group->addWidget(m_ui.description, 1, 1, 1, 2);
    group->addWidget(m_ui.floatValues, 2, 1);
    group->addWidget(m_ui.scanGroup, 0, 3, 3, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(m_ui.ok);
    buttons->addWidget(m_ui.cancel);
    buttons->addStretch();
    group->addLayout(buttons, 0, 4, 3, 1);
    group->setColumnStretch(2, 1);
    m_ui.editGroup->hide();
    m_ui.ok->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(m_ui.menuBar);
    layout->addWidget(m_ui.list, 1);
    layout->addWidget(m_ui.editGroup);

    connect(m_ui.list, &QTreeWidget::itemDoubleClicked, this, [this] { editTable(); });
    connect(m_ui.number, &QLineEdit::textChanged, this, &TFTabs::changed);
    connect(m_ui.description, &QLineEdit::textChanged, this, &TFTabs::changed);
    connect(m_ui.floatValues, &QCheckBox::toggled, this, &TFTabs::changed);
    connect(m_ui.scanButtons, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) changed();
    });
    connect(m_ui.ok, &QPushButton::clicked, this, &TFTabs::acceptTable);
    connect(m_ui.cancel, &QPushButton::clicked, this, &TFTabs::cancelEdit);
    connect(qApp, &QApplication::focusChanged, this, &TFTabs::focusChanged);
}

TFTabs::~TFTabs() { disconnect(qApp, nullptr, this, nullptr); }

void TFTabs::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!m_filled) guarded(this, [&] { FormActivate(); });
}

void TFTabs::FormActivate() {
    m_filled = true;
    const bool admin = IsAdminMode();
    m_ui.list->clear();
    for (const catalog::TableRow &t : catalog::listTables(m_formId)) {
        auto *item = new QTreeWidgetItem(m_ui.list);
        item->setText(0, t.tablen);
        item->setText(1, t.name);
        item->setText(2, catalog::yesNo(t.floattype));
        if (admin) item->setText(3, QString::number(t.ident));
        item->setData(0, Qt::UserRole, t.ident);
        item->setData(0, kScanRole, t.scan);
    }
    m_ui.list->setColumnWidth(3, admin ? 50 : 0);
    m_ui.list->setColumnHidden(3, !admin);
    if (m_ui.list->topLevelItemCount() > 0) m_ui.list->setCurrentItem(m_ui.list->topLevelItem(0));
}

void TFTabs::hideScanChoice() { m_ui.scanGroup->hide(); }

int TFTabs::radioIndex() const { return m_ui.byColumns->isChecked() ? 1 : 0; }

void TFTabs::setRadioIndex(int index) {
    (index == 1 ? m_ui.byColumns : m_ui.byRows)->setChecked(true);
}

void TFTabs::changed() {
    if (!m_loading) m_ui.ok->show();
}

void TFTabs::editTable() {
    QTreeWidgetItem *item = m_ui.list->currentItem();
    if (!item) return;
    m_loading = true;
    m_ui.number->setText(item->text(0));
    m_ui.description->setText(item->text(1));
    m_ui.floatValues->setChecked(item->text(2) == QStringLiteral("Да"));
    setRadioIndex(item->data(0, kScanRole).toInt());
    m_loading = false;
    m_ui.editGroup->show();
    m_ui.ok->hide();
    m_ui.number->setFocus();
}

bool TFTabs::save() {
    QTreeWidgetItem *item = m_ui.list->currentItem();
    if (!item) return false;
    QString fault = catalog::tableFieldsFault(m_ui.number->text(), m_ui.description->text());
    bool numberFault = !catalog::tableFieldsFault(m_ui.number->text(), QString()).isEmpty();
    if (fault.isEmpty()) {
        guarded(this, [&] { fault = catalog::tableIdentityFault(itemId(item), m_ui.number->text()); });
        numberFault = !fault.isEmpty();
    }
    if (!fault.isEmpty()) {
        showMessage(fault, this);
        (numberFault ? m_ui.number : m_ui.description)->setFocus();
        return false;
    }
    bool ok = false;
    guarded(this, [&] {
        const QString before = item->text(0);
        const QStringList carried =
            catalog::updateTable(itemId(item), m_ui.number->text(), m_ui.description->text(), m_ui.floatValues->isChecked(), radioIndex());
        if (!carried.isEmpty())
            showMessage(carry::changedMessage(QStringLiteral("Номер таблицы %1 изменен на %2.")
                                                  .arg(before, m_ui.number->text().trimmed()),
                                              carried),
                        this);
        item->setText(0, m_ui.number->text());
        item->setText(1, m_ui.description->text());
        item->setText(2, catalog::yesNo(m_ui.floatValues->isChecked()));
        item->setData(0, kScanRole, radioIndex());
        ok = true;
    });
    return ok;
}

void TFTabs::acceptTable() {
    if (!save()) return;
    m_ui.ok->hide();
    m_leaving = true;
    m_ui.editGroup->hide();
    m_ui.list->setFocus();
    m_leaving = false;
}

void TFTabs::cancelEdit() {
    m_leaving = true;
    m_ui.editGroup->hide();
    m_ui.ok->hide();
    m_ui.list->setFocus();
    m_leaving = false;
}

void TFTabs::focusChanged(QWidget *old, QWidget *now) {
    if (m_leaving || !m_ui.editGroup->isVisible() || !old || !now) return;
    if (!m_ui.editGroup->isAncestorOf(old) || m_ui.editGroup->isAncestorOf(now)) return;
    if (now->window() != this) return;   // a message or question of our own
    m_leaving = true;
    if (!m_ui.ok->isHidden() && confirm(QStringLiteral("Сохранить изменения?"), this) && !save()) {
        // Refused: the typed values stay in the group for correcting.
        m_leaving = false;
        return;
    }
    m_ui.ok->hide();
    m_ui.editGroup->hide();
    m_leaving = false;
}

void TFTabs::deleteTable() {
    guarded(this, [&] {
        QTreeWidgetItem *item = m_ui.list->currentItem();
        if (!item) return;
        if (!confirm(QStringLiteral("Удалить таблицу ") + item->text(0) + QStringLiteral("?"), this)) return;
        catalog::DeleteTableWithData(itemId(item));
        delete item;
    });
}

bool TFTabs::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_ui.list && event->type() == QEvent::KeyPress) {
        auto *k = static_cast<QKeyEvent *>(event);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            editTable();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFTabs::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape && m_ui.editGroup->isVisible() && m_ui.editGroup->isAncestorOf(focusWidget())) {
        cancelEdit();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter in the editing group does not close the window.
        if (m_ui.editGroup->isVisible() && m_ui.editGroup->isAncestorOf(focusWidget()) && !m_ui.ok->isHidden())
            acceptTable();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- catalogue ----------------------------------------------------------------------------

TFormL::TFormL(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormL"));
    setWindowTitle(winutil::appTitle() + QLatin1Char(' ') + QStringLiteral("Отчетные формы"));
    winutil::fitToScreen(this, QSize(840, 480));
    m_ui.menuBar = new QMenuBar(this);
    m_ui.exportForm = m_ui.menuBar->addAction(QStringLiteral("Экспорт"), this, &TFormL::exportForm);
    m_ui.importForm = m_ui.menuBar->addAction(QStringLiteral("Импорт"), this, &TFormL::importForm);
    m_ui.add = m_ui.menuBar->addAction(QStringLiteral("Добавить"), this, &TFormL::addForm);
    m_ui.add->setProperty("Tag", kAdminTag);
    m_ui.edit = m_ui.menuBar->addAction(QStringLiteral("Корректировать"), this, &TFormL::editForm);
    m_ui.remove = m_ui.menuBar->addAction(QStringLiteral("Удалить"), this, &TFormL::deleteForm);
    m_ui.tables = m_ui.menuBar->addAction(QStringLiteral("Таблицы"), this, &TFormL::openTables);
    m_ui.saveOrder = m_ui.menuBar->addAction(QStringLiteral("Сохранить сортировку"), this, &TFormL::saveOrder);
    m_ui.saveOrder->setVisible(false);
    m_ui.importDoc = m_ui.menuBar->addAction(QStringLiteral("Импортировать из doc"), this, &TFormL::importFromDoc);
    m_ui.importDoc->setProperty("Tag", kAdminTag);
    m_ui.exit = m_ui.menuBar->addAction(QStringLiteral("Выход"), this, &QDialog::reject);

    m_ui.list = new TFormLView(this);
    setupReportList(m_ui.list, {QStringLiteral("Форма"), QStringLiteral("Содержание"), QStringLiteral("Сеть")});
    m_ui.list->header()->setStretchLastSection(false);
    m_ui.list->setColumnWidth(0, 64);
    m_ui.list->setColumnWidth(2, 40);
    // The list is as wide as the window less 10 pixels, down to 5 pixels
    // above its lower edge; the menus wrap into rows on a narrow screen.
    m_ui.menuBar->setNativeMenuBar(false);
    auto *box = new QVBoxLayout(this);
    box->setMenuBar(m_ui.menuBar);
    box->setContentsMargins(5, 2, 5, 5);
    box->addWidget(m_ui.list);

    connect(m_ui.list, &QTreeWidget::itemDoubleClicked, this, [this] { openTables(); });
    connect(m_ui.list, &TFormLView::rowMoved, this, [this] { m_ui.saveOrder->setVisible(true); });
    RegisterAdminForm(this);
    layoutList();
}

void TFormL::layoutList() {
    const int scroll = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    m_ui.list->setColumnWidth(1, qMax(40, m_ui.list->width() - 104 - scroll));
}

void TFormL::resizeEvent(QResizeEvent *event) {
    QDialog::resizeEvent(event);
    layoutList();
}

void TFormL::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!m_filled) guarded(this, [&] { FormActivate(); });
}

void TFormL::setItem(QTreeWidgetItem *item, const catalog::FormRow &f) {
    item->setText(0, f.formname);
    item->setText(1, f.decipher);
    item->setText(2, catalog::yesNo(f.net));
    item->setData(0, Qt::UserRole, f.id);
}

QTreeWidgetItem *TFormL::addItem(const catalog::FormRow &f) {
    auto *item = new QTreeWidgetItem(m_ui.list);
    setItem(item, f);
    return item;
}

void TFormL::FormActivate() {
    m_filled = true;
    m_ui.list->clear();
    for (const catalog::FormRow &f : catalog::listForms()) addItem(f);
    if (m_ui.list->topLevelItemCount() > 0) m_ui.list->setCurrentItem(m_ui.list->topLevelItem(0));
}

void TFormL::addForm() {
    guarded(this, [&] {
        TFChar dlg(this);
        if (execModal(&dlg) != QDialog::Accepted) return;
        catalog::FormRow f = dlg.form(0);
        f.id = catalog::addForm(f.formname, f.decipher, f.net);
        m_ui.list->setCurrentItem(addItem(f));
    });
}

void TFormL::editForm() {
    guarded(this, [&] {
        QTreeWidgetItem *item = m_ui.list->currentItem();
        if (!item) return;
        TFChar dlg(this, itemId(item));
        dlg.setForm({itemId(item), item->text(0), item->text(1), item->text(2) == QStringLiteral("Да")});
        if (execModal(&dlg) != QDialog::Accepted) return;
        const catalog::FormRow f = dlg.form(itemId(item));
        const QString before = item->text(0);
        const QStringList carried = catalog::updateForm(f.id, f.formname, f.decipher, f.net);
        setItem(item, f);
        if (!carried.isEmpty())
            showMessage(carry::changedMessage(QStringLiteral("Форма %1 переименована в %2.")
                                                  .arg(before, f.formname.trimmed()),
                                              carried),
                        this);
    });
}

void TFormL::deleteForm() {
    guarded(this, [&] {
        QTreeWidgetItem *item = m_ui.list->currentItem();
        if (!item) return;
        if (!confirm(QStringLiteral("Вы действительно хотите удалить всю информацию по форме ") + item->text(0), this))
            return;
        catalog::deleteForm(itemId(item));
        delete item;
        if (m_ui.list->topLevelItemCount() > 0) m_ui.list->setCurrentItem(m_ui.list->topLevelItem(0));
    });
}

void TFormL::openTables() {
    guarded(this, [&] {
        QTreeWidgetItem *item = m_ui.list->currentItem();
        if (!item) return;
        TFTabs tabs(itemId(item), this);
        tabs.setWindowTitle(QStringLiteral("Таблицы: ") + item->text(0) + QStringLiteral(" - ") + item->text(1));
        if (item->text(2) == QStringLiteral("Нет")) tabs.hideScanChoice();
        execModal(&tabs);
    });
}

void TFormL::saveOrder() {
    guarded(this, [&] {
        QList<qint64> ids;
        for (int i = 0; i < m_ui.list->topLevelItemCount(); ++i) ids.append(itemId(m_ui.list->topLevelItem(i)));
        catalog::saveFormOrder(ids);
        m_ui.saveOrder->setVisible(false);
    });
}

void TFormL::exportForm() {
    guarded(this, [&] {
        QTreeWidgetItem *item = m_ui.list->currentItem();
        if (!item) return;
        QString file = dialogs().saveFile(this, QStringLiteral("Экспорт"),
                                          office::documentsFolder() + item->text(0) + QStringLiteral(".frs"),
                                          frsFilter(true));
        if (file.isEmpty()) return;
        if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".frs");
        {
            const winutil::WaitCursor wait;
            catalog::exportForm(itemId(item), file);
        }
        showMessage(QStringLiteral("Готово"), this);
    });
}

void TFormL::importForm() {
    guarded(this, [&] {
        const QString file = dialogs().openFile(this, QStringLiteral("Импорт"), office::documentsFolder(),
                                                frsFilter(false));
        if (file.isEmpty()) return;
        const frs::Form parsed = frs::readFile(file, [this](const QString &m) { showError(m, this); });
        const catalog::ImportResult r = catalog::importFrs(parsed);
        const catalog::FormRow f{r.formId, r.formname, parsed.decipher, parsed.net};
        QTreeWidgetItem *item = nullptr;
        for (int i = 0; i < m_ui.list->topLevelItemCount() && !item; ++i)
            if (itemId(m_ui.list->topLevelItem(i)) == r.formId) item = m_ui.list->topLevelItem(i);
        if (item) setItem(item, f);
        else if (r.newForm) addItem(f);
        if (!r.missing.isEmpty() && confirm(catalog::missingTablesQuestion(r.missing), this))
            for (const auto &m : r.missing) catalog::DeleteTableWithData(m.second);
        showMessage(QStringLiteral("Готово"), this);
    });
}

void TFormL::importFromDoc() {
    guarded(this, [&] {
        if (!m_import) m_import = new TImportDocForm(this);
        // The import window tells the structure it stored; the catalogue
        // closes with its own word.
        if (execModal(m_import) == QDialog::Accepted) showMessage(QStringLiteral("Форма успешно импортирована!"), this);
    });
}

void openFormCatalog(QWidget *parent) {
    TFormL w(parent);
    execModal(&w);
}
