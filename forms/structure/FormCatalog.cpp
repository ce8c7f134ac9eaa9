#include "forms/structure/FormCatalog.h"
#include "engine/CatalogRename.h"

#include "core/AdminMode.h"
#include "forms/shared/FormListCommon.h"
#include "forms/structure/ImportDoc.h"
#include "platform/Dialogs.h"
#include "platform/office/Show.h"

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
    Edit1 = new QLineEdit(this);
    Edit2 = new QLineEdit(this);
    CheckBox1 = new QCheckBox(QStringLiteral("Сетевая"), this);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Отказ"), this);
    BitBtn1->setDefault(true);
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Форма"), Edit1);
    form->addRow(QStringLiteral("Содержание"), Edit2);
    layout->addLayout(form);
    layout->addWidget(CheckBox1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    layout->addLayout(buttons);
    resize(460, sizeHint().height());
    connect(BitBtn1, &QPushButton::clicked, this, &TFChar::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TFChar::BitBtn1Click() {
    if (Edit1->text().trimmed().isEmpty()) {
        showMessage(QStringLiteral("Введите наименование формы!"), this);
        Edit1->setFocus();
        return;
    }
    QString fault = catalog::formFieldsFault(Edit1->text(), Edit2->text());
    const bool nameFault = !fault.isEmpty() && !frs::fieldFault(QString(), Edit1->text()).isEmpty();
    if (fault.isEmpty()) {
        guarded(this, [&] { fault = catalog::formIdentityFault(Edit1->text(), m_formId); });
        if (!fault.isEmpty()) {
            showMessage(fault, this);
            Edit1->setFocus();
            return;
        }
    }
    if (!fault.isEmpty()) {
        showMessage(fault, this);
        (nameFault ? Edit1 : Edit2)->setFocus();
        return;
    }
    accept();
}

// ---- tables of a form -------------------------------------------------------------------

TFTabs::TFTabs(qint64 formId, QWidget *parent) : QDialog(parent), m_formId(formId) {
    setObjectName(QStringLiteral("FTabs"));
    winutil::fitToScreen(this, QSize(640, 460));
    MainMenu1 = new QMenuBar(this);
    N1 = MainMenu1->addAction(QStringLiteral("Добавить"));
    N1->setVisible(false);
    N2 = MainMenu1->addAction(QStringLiteral("Корректировать"), this, &TFTabs::N2Click);
    N3 = MainMenu1->addAction(QStringLiteral("Удалить"), this, &TFTabs::N3Click);
    N4 = MainMenu1->addAction(QStringLiteral("Выход"), this, &QDialog::reject);

    ListView1 = new QTreeWidget(this);
    setupReportList(ListView1, {QStringLiteral("Номер"), QStringLiteral("Содержание"), QStringLiteral("Нецелые"),
                                QStringLiteral("ID")});
    ListView1->setColumnWidth(0, 80);
    ListView1->setColumnWidth(1, 380);
    ListView1->setColumnWidth(2, 70);
    ListView1->installEventFilter(this);

    GroupBox1 = new QGroupBox(this);
    Edit1 = new QLineEdit(GroupBox1);
    Edit2 = new QLineEdit(GroupBox1);
    CheckBox1 = new QCheckBox(QStringLiteral("Нецелые значения"), GroupBox1);
    RadioGroup1 = new QGroupBox(QStringLiteral("Формирование по..."), GroupBox1);
    RadioStrings = new QRadioButton(QStringLiteral("Строкам"), RadioGroup1);
    RadioColumns = new QRadioButton(QStringLiteral("Графам"), RadioGroup1);
    RadioButtons = new QButtonGroup(this);
    RadioButtons->addButton(RadioStrings, 0);
    RadioButtons->addButton(RadioColumns, 1);
    auto *radioLayout = new QVBoxLayout(RadioGroup1);
    radioLayout->addWidget(RadioStrings);
    radioLayout->addWidget(RadioColumns);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), GroupBox1);
    BitBtn2 = new QPushButton(QStringLiteral("Отказ"), GroupBox1);
    auto *group = new QGridLayout(GroupBox1);
    group->addWidget(new QLabel(QStringLiteral("Номер"), GroupBox1), 0, 0);
    group->addWidget(Edit1, 0, 1);
    group->addWidget(new QLabel(QStringLiteral("Содержание"), GroupBox1), 1, 0);
    group->addWidget(Edit2, 1, 1, 1, 2);
    group->addWidget(CheckBox1, 2, 1);
    group->addWidget(RadioGroup1, 0, 3, 3, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addStretch();
    group->addLayout(buttons, 0, 4, 3, 1);
    group->setColumnStretch(2, 1);
    GroupBox1->hide();
    BitBtn1->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(ListView1, 1);
    layout->addWidget(GroupBox1);

    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { N2Click(); });
    connect(Edit1, &QLineEdit::textChanged, this, &TFTabs::changed);
    connect(Edit2, &QLineEdit::textChanged, this, &TFTabs::changed);
    connect(CheckBox1, &QCheckBox::toggled, this, &TFTabs::changed);
    connect(RadioButtons, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) changed();
    });
    connect(BitBtn1, &QPushButton::clicked, this, &TFTabs::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TFTabs::BitBtn2Click);
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
    ListView1->clear();
    for (const catalog::TableRow &t : catalog::listTables(m_formId)) {
        auto *item = new QTreeWidgetItem(ListView1);
        item->setText(0, t.tablen);
        item->setText(1, t.name);
        item->setText(2, catalog::yesNo(t.floattype));
        if (admin) item->setText(3, QString::number(t.ident));
        item->setData(0, Qt::UserRole, t.ident);
        item->setData(0, kScanRole, t.scan);
    }
    ListView1->setColumnWidth(3, admin ? 50 : 0);
    ListView1->setColumnHidden(3, !admin);
    if (ListView1->topLevelItemCount() > 0) ListView1->setCurrentItem(ListView1->topLevelItem(0));
}

int TFTabs::radioIndex() const { return RadioColumns->isChecked() ? 1 : 0; }

void TFTabs::setRadioIndex(int index) {
    (index == 1 ? RadioColumns : RadioStrings)->setChecked(true);
}

void TFTabs::changed() {
    if (!m_loading) BitBtn1->show();
}

void TFTabs::N2Click() {
    QTreeWidgetItem *item = ListView1->currentItem();
    if (!item) return;
    m_loading = true;
    Edit1->setText(item->text(0));
    Edit2->setText(item->text(1));
    CheckBox1->setChecked(item->text(2) == QStringLiteral("Да"));
    setRadioIndex(item->data(0, kScanRole).toInt());
    m_loading = false;
    GroupBox1->show();
    BitBtn1->hide();
    Edit1->setFocus();
}

bool TFTabs::save() {
    QTreeWidgetItem *item = ListView1->currentItem();
    if (!item) return false;
    QString fault = catalog::tableFieldsFault(Edit1->text(), Edit2->text());
    bool numberFault = !catalog::tableFieldsFault(Edit1->text(), QString()).isEmpty();
    if (fault.isEmpty()) {
        guarded(this, [&] { fault = catalog::tableIdentityFault(itemId(item), Edit1->text()); });
        numberFault = !fault.isEmpty();
    }
    if (!fault.isEmpty()) {
        showMessage(fault, this);
        (numberFault ? Edit1 : Edit2)->setFocus();
        return false;
    }
    bool ok = false;
    guarded(this, [&] {
        const QString before = item->text(0);
        const QStringList carried =
            catalog::updateTable(itemId(item), Edit1->text(), Edit2->text(), CheckBox1->isChecked(), radioIndex());
        if (!carried.isEmpty())
            showMessage(carry::changedMessage(QStringLiteral("Номер таблицы %1 изменен на %2.")
                                                  .arg(before, Edit1->text().trimmed()),
                                              carried),
                        this);
        item->setText(0, Edit1->text());
        item->setText(1, Edit2->text());
        item->setText(2, catalog::yesNo(CheckBox1->isChecked()));
        item->setData(0, kScanRole, radioIndex());
        ok = true;
    });
    return ok;
}

void TFTabs::BitBtn1Click() {
    if (!save()) return;
    BitBtn1->hide();
    m_leaving = true;
    GroupBox1->hide();
    ListView1->setFocus();
    m_leaving = false;
}

void TFTabs::BitBtn2Click() {
    m_leaving = true;
    GroupBox1->hide();
    BitBtn1->hide();
    ListView1->setFocus();
    m_leaving = false;
}

void TFTabs::focusChanged(QWidget *old, QWidget *now) {
    if (m_leaving || !GroupBox1->isVisible() || !old || !now) return;
    if (!GroupBox1->isAncestorOf(old) || GroupBox1->isAncestorOf(now)) return;
    if (now->window() != this) return;   // a message or question of our own
    m_leaving = true;
    if (!BitBtn1->isHidden() && confirm(QStringLiteral("Сохранить изменения?"), this) && !save()) {
        // Refused: the typed values stay in the group for correcting.
        m_leaving = false;
        return;
    }
    BitBtn1->hide();
    GroupBox1->hide();
    m_leaving = false;
}

void TFTabs::N3Click() {
    guarded(this, [&] {
        QTreeWidgetItem *item = ListView1->currentItem();
        if (!item) return;
        if (!confirm(QStringLiteral("Удалить таблицу ") + item->text(0) + QStringLiteral("?"), this)) return;
        catalog::DeleteTableWithData(itemId(item));
        delete item;
    });
}

bool TFTabs::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        auto *k = static_cast<QKeyEvent *>(event);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            N2Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFTabs::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape && GroupBox1->isVisible() && GroupBox1->isAncestorOf(focusWidget())) {
        BitBtn2Click();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter in the editing group does not close the window.
        if (GroupBox1->isVisible() && GroupBox1->isAncestorOf(focusWidget()) && !BitBtn1->isHidden())
            BitBtn1Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- catalogue ----------------------------------------------------------------------------

TFormL::TFormL(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormL"));
    setWindowTitle(winutil::appTitle() + QLatin1Char(' ') + QStringLiteral("Отчетные формы"));
    winutil::fitToScreen(this, QSize(840, 480));
    MainMenu1 = new QMenuBar(this);
    N7 = MainMenu1->addAction(QStringLiteral("Экспорт"), this, &TFormL::N7Click);
    N8 = MainMenu1->addAction(QStringLiteral("Импорт"), this, &TFormL::N8Click);
    N1 = MainMenu1->addAction(QStringLiteral("Добавить"), this, &TFormL::N1Click);
    N1->setProperty("Tag", kAdminTag);
    N2 = MainMenu1->addAction(QStringLiteral("Корректировать"), this, &TFormL::N2Click);
    N3 = MainMenu1->addAction(QStringLiteral("Удалить"), this, &TFormL::N3Click);
    N5 = MainMenu1->addAction(QStringLiteral("Таблицы"), this, &TFormL::N5Click);
    N6 = MainMenu1->addAction(QStringLiteral("Сохранить сортировку"), this, &TFormL::N6Click);
    N6->setVisible(false);
    NImportDoc = MainMenu1->addAction(QStringLiteral("Импортировать из doc"), this, &TFormL::NImportDocClick);
    NImportDoc->setProperty("Tag", kAdminTag);
    N4 = MainMenu1->addAction(QStringLiteral("Выход"), this, &QDialog::reject);

    ListView1 = new TFormLView(this);
    setupReportList(ListView1, {QStringLiteral("Форма"), QStringLiteral("Содержание"), QStringLiteral("Сеть")});
    ListView1->header()->setStretchLastSection(false);
    ListView1->setColumnWidth(0, 64);
    ListView1->setColumnWidth(2, 40);
    // The list is as wide as the window less 10 pixels, down to 5 pixels
    // above its lower edge; the menus wrap into rows on a narrow screen.
    MainMenu1->setNativeMenuBar(false);
    auto *box = new QVBoxLayout(this);
    box->setMenuBar(MainMenu1);
    box->setContentsMargins(5, 2, 5, 5);
    box->addWidget(ListView1);

    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { N5Click(); });
    connect(ListView1, &TFormLView::rowMoved, this, [this] { N6->setVisible(true); });
    RegisterAdminForm(this);
    layoutList();
}

void TFormL::layoutList() {
    const int scroll = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    ListView1->setColumnWidth(1, qMax(40, ListView1->width() - 104 - scroll));
}

void TFormL::resizeEvent(QResizeEvent *event) {
    QDialog::resizeEvent(event);
    layoutList();
}

void TFormL::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (FormLFirstShow) guarded(this, [&] { FormActivate(); });
}

void TFormL::setItem(QTreeWidgetItem *item, const catalog::FormRow &f) {
    item->setText(0, f.formname);
    item->setText(1, f.decipher);
    item->setText(2, catalog::yesNo(f.net));
    item->setData(0, Qt::UserRole, f.id);
}

QTreeWidgetItem *TFormL::addItem(const catalog::FormRow &f) {
    auto *item = new QTreeWidgetItem(ListView1);
    setItem(item, f);
    return item;
}

void TFormL::FormActivate() {
    FormLFirstShow = false;
    ListView1->clear();
    for (const catalog::FormRow &f : catalog::listForms()) addItem(f);
    if (ListView1->topLevelItemCount() > 0) ListView1->setCurrentItem(ListView1->topLevelItem(0));
}

void TFormL::N1Click() {
    guarded(this, [&] {
        TFChar dlg(this);
        if (execModal(&dlg) != QDialog::Accepted) return;
        catalog::FormRow f{0, dlg.Edit1->text(), dlg.Edit2->text(), dlg.CheckBox1->isChecked()};
        f.id = catalog::addForm(f.formname, f.decipher, f.net);
        ListView1->setCurrentItem(addItem(f));
    });
}

void TFormL::N2Click() {
    guarded(this, [&] {
        QTreeWidgetItem *item = ListView1->currentItem();
        if (!item) return;
        TFChar dlg(this, itemId(item));
        dlg.Edit1->setText(item->text(0));
        dlg.Edit2->setText(item->text(1));
        dlg.CheckBox1->setChecked(item->text(2) == QStringLiteral("Да"));
        if (execModal(&dlg) != QDialog::Accepted) return;
        const catalog::FormRow f{itemId(item), dlg.Edit1->text(), dlg.Edit2->text(), dlg.CheckBox1->isChecked()};
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

void TFormL::N3Click() {
    guarded(this, [&] {
        QTreeWidgetItem *item = ListView1->currentItem();
        if (!item) return;
        if (!confirm(QStringLiteral("Вы действительно хотите удалить всю информацию по форме ") + item->text(0), this))
            return;
        catalog::deleteForm(itemId(item));
        delete item;
        if (ListView1->topLevelItemCount() > 0) ListView1->setCurrentItem(ListView1->topLevelItem(0));
    });
}

void TFormL::N5Click() {
    guarded(this, [&] {
        QTreeWidgetItem *item = ListView1->currentItem();
        if (!item) return;
        TFTabs tabs(itemId(item), this);
        tabs.setWindowTitle(QStringLiteral("Таблицы: ") + item->text(0) + QStringLiteral(" - ") + item->text(1));
        if (item->text(2) == QStringLiteral("Нет")) tabs.RadioGroup1->hide();
        execModal(&tabs);
    });
}

void TFormL::N6Click() {
    guarded(this, [&] {
        QList<qint64> ids;
        for (int i = 0; i < ListView1->topLevelItemCount(); ++i) ids.append(itemId(ListView1->topLevelItem(i)));
        catalog::saveFormOrder(ids);
        N6->setVisible(false);
    });
}

void TFormL::N7Click() {
    guarded(this, [&] {
        QTreeWidgetItem *item = ListView1->currentItem();
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

void TFormL::N8Click() {
    guarded(this, [&] {
        const QString file = dialogs().openFile(this, QStringLiteral("Импорт"), office::documentsFolder(),
                                                frsFilter(false));
        if (file.isEmpty()) return;
        const frs::Form parsed = frs::readFile(file, [this](const QString &m) { showError(m, this); });
        const catalog::ImportResult r = catalog::importFrs(parsed);
        const catalog::FormRow f{r.formId, r.formname, parsed.decipher, parsed.net};
        QTreeWidgetItem *item = nullptr;
        for (int i = 0; i < ListView1->topLevelItemCount() && !item; ++i)
            if (itemId(ListView1->topLevelItem(i)) == r.formId) item = ListView1->topLevelItem(i);
        if (item) setItem(item, f);
        else if (r.newForm) addItem(f);
        if (!r.missing.isEmpty() && confirm(catalog::missingTablesQuestion(r.missing), this))
            for (const auto &m : r.missing) catalog::DeleteTableWithData(m.second);
        showMessage(QStringLiteral("Готово"), this);
    });
}

void TFormL::NImportDocClick() {
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
