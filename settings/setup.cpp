#include "settings/setup.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "delivery/delivery_rules.h"
#include "settings/autostart.h"
#include "settings/dir_new.h"
#include "settings/dir_select.h"
#include "settings/get_ports.h"
#include "settings/opn_state.h"
#include "settings/path_shorten.h"
#include "settings/settings.h"

namespace vt {

TFormSetup1* FormSetup1 = nullptr;
TFormDirSelect* FormDirSelect = nullptr;
TFormDirNew* FormDirNew = nullptr;

void CreateSetupForms(QWidget* parent) {
    // Each dialog opens the next one; create them so that each finds the other.
    FormDirNew = new TFormDirNew(parent);
    FormDirSelect = new TFormDirSelect(FormDirNew, parent);
    FormSetup1 = new TFormSetup1(FormDirSelect, parent);
    // Owned by `parent`: the pointers must not outlive it.
    QObject::connect(FormSetup1, &QObject::destroyed, [] { FormSetup1 = nullptr; });
    QObject::connect(FormDirSelect, &QObject::destroyed, [] { FormDirSelect = nullptr; });
    QObject::connect(FormDirNew, &QObject::destroyed, [] { FormDirNew = nullptr; });
}

void DropDownComboBox::showPopup() {
    if (OnDropDown)
        OnDropDown();
    QComboBox::showPopup();
}

namespace {

constexpr int kDirectoryEditWidth = 320;

QString U8(const char* text) {
    return QString::fromUtf8(text);
}

bool OpnCsvMode() {
    return IsMiraboOrDoerfal() && progpar.device == 1;
}

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLineEdit* DirectoryEdit(QWidget* parent, const char* name) {
    auto* edit = Named(new QLineEdit(parent), name);
    edit->setReadOnly(true);
    // The shortened path is measured against this width, so it must not
    // depend on when the layout runs.
    edit->setFixedWidth(kDirectoryEditWidth);
    return edit;
}

}  // namespace

TFormSetup1::TFormSetup1(TFormDirSelect* dir_select, QWidget* parent)
    : QDialog(parent), dir_select_(dir_select) {
    setObjectName(QStringLiteral("FormSetup1"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    PageControl = Named(new QTabWidget(this), "PageControl");
    QFont bold = font();
    bold.setBold(true);

    // Tab "Einstellungen"
    TabSheetEinstellungen = Named(new QWidget, "TabSheetEinstellungen");
    GroupBox100 = Named(new QGroupBox(TabSheetEinstellungen), "GroupBox100");
    Label110 = Named(new QLabel(GroupBox100), "Label110");
    Label101 = Named(new QLabel(U8(txt::DllVersionLabel), GroupBox100), "Label101");
    Label111 = Named(new QLabel(GroupBox100), "Label111");
    {
        auto* g = new QGridLayout(GroupBox100);
        g->addWidget(new QLabel(U8(txt::ProgramVersionLabel), GroupBox100), 0, 0);
        g->addWidget(Label110, 0, 1);
        g->addWidget(Label101, 1, 0);
        g->addWidget(Label111, 1, 1);
        g->setColumnStretch(1, 1);
    }
    GroupBox3 = Named(new QGroupBox(TabSheetEinstellungen), "GroupBox3");
    Label20 = Named(new QLabel(GroupBox3), "Label20");
    ComboBoxCom = Named(new DropDownComboBox(GroupBox3), "ComboBoxCom");
    ComboBoxCom->setEditable(true);
    ComboBoxCom->setInsertPolicy(QComboBox::NoInsert);
    ComboBoxCom->setMaxVisibleItems(10);
    ComboBoxCom->setMinimumWidth(280);
    ComboBoxCom->OnDropDown = [this] { ComboBoxComDropDown(); };
    Label21 = Named(new QLabel(GroupBox3), "Label21");
    ComboBoxDevice = Named(new QComboBox(GroupBox3), "ComboBoxDevice");
    {
        auto* g = new QGridLayout(GroupBox3);
        g->addWidget(Label20, 0, 0);
        g->addWidget(ComboBoxCom, 0, 1);
        g->addWidget(Label21, 1, 0);
        g->addWidget(ComboBoxDevice, 1, 1);
        g->setColumnStretch(1, 1);
    }
    GroupBox2 = Named(new QGroupBox(U8(txt::Parameters), TabSheetEinstellungen), "GroupBox2");
    CheckBox100 = Named(new QCheckBox(U8(txt::Minimize), GroupBox2), "CheckBox100");
    CheckBox101 = Named(new QCheckBox(U8(txt::TrayIcon), GroupBox2), "CheckBox101");
    CheckBox102 = Named(new QCheckBox(U8(txt::TaskBar), GroupBox2), "CheckBox102");
    CheckBox103 = Named(new QCheckBox(U8(txt::ConfirmCloseOption), GroupBox2), "CheckBox103");
    CheckBox104 = Named(new QCheckBox(U8(txt::StartAtLogin), GroupBox2), "CheckBox104");
    {
        auto* v = new QVBoxLayout(GroupBox2);
        for (QCheckBox* c : {CheckBox100, CheckBox101, CheckBox102, CheckBox103, CheckBox104})
            v->addWidget(c);
    }
    GroupBoxDelivery =
        Named(new QGroupBox(U8(txt::DeliveryGroup), TabSheetEinstellungen), "GroupBoxDelivery");
    RadioDeliveryKeys =
        Named(new QRadioButton(U8(txt::DeliveryKeys), GroupBoxDelivery), "RadioDeliveryKeys");
    RadioDeliveryExtension = Named(
        new QRadioButton(U8(txt::DeliveryExtension), GroupBoxDelivery), "RadioDeliveryExtension");
    {
        auto* h = new QHBoxLayout(GroupBoxDelivery);
        h->addWidget(RadioDeliveryKeys);
        h->addWidget(RadioDeliveryExtension);
        h->addStretch(1);
        auto* tab = new QVBoxLayout(TabSheetEinstellungen);
        tab->addWidget(GroupBox100);
        tab->addWidget(GroupBox3);
        tab->addWidget(GroupBox2);
        tab->addWidget(GroupBoxDelivery);
        tab->addStretch(1);
    }

    // Tab "Shop"
    TabSheet3 = Named(new QWidget, "TabSheet3");
    auto shop_group = [&](QGroupBox* box, QComboBox*& browser, QLineEdit*& title, QLineEdit*& form,
                          const char* browser_name, const char* title_name, const char* form_name) {
        browser = Named(new QComboBox(box), browser_name);
        title = Named(new QLineEdit(box), title_name);
        form = Named(new QLineEdit(box), form_name);
        auto* g = new QGridLayout(box);
        g->addWidget(new QLabel(U8(txt::Browser), box), 0, 0);
        g->addWidget(browser, 0, 1);
        g->addWidget(new QLabel(U8(txt::BrowserTitle), box), 1, 0);
        g->addWidget(title, 1, 1);
        g->addWidget(new QLabel(U8(txt::FormTitle), box), 2, 0);
        g->addWidget(form, 2, 1);
        g->setColumnStretch(1, 1);
        return g;
    };
    GroupBox200 = Named(new QGroupBox(TabSheet3), "GroupBox200");
    QGridLayout* g200 = shop_group(GroupBox200, ComboBoxBrowser1, Edit201, Edit202,
                                   "ComboBoxBrowser1", "Edit201", "Edit202");
    Edit205 = Named(new QLineEdit(GroupBox200), "Edit205");
    g200->addWidget(new QLabel(U8(txt::RemovePrefix), GroupBox200), 3, 0);
    g200->addWidget(Edit205, 3, 1);
    GroupBox4 = Named(new QGroupBox(U8(txt::ShopSimpleSystem), TabSheet3), "GroupBox4");
    shop_group(GroupBox4, ComboBoxBrowser2, Edit211, Edit212, "ComboBoxBrowser2", "Edit211",
               "Edit212");
    {
        auto* tab = new QVBoxLayout(TabSheet3);
        tab->addWidget(GroupBox200);
        tab->addWidget(GroupBox4);
        tab->addStretch(1);
    }

    // Tab "CSV"
    TabSheetCSV = Named(new QWidget, "TabSheetCSV");
    auto* group5 = Named(new QGroupBox(U8(txt::FileGroup), TabSheetCSV), "GroupBox5");
    Edit1000 = DirectoryEdit(group5, "Edit1000");
    Button1000 = Named(new QPushButton(U8(txt::Change), group5), "Button1000");
    Label1101 = Named(new QLabel(U8(txt::FileName), group5), "Label1101");
    Edit1001 = Named(new QLineEdit(group5), "Edit1001");
    Edit1001->setReadOnly(true);
    {
        auto* g = new QGridLayout(group5);
        g->addWidget(new QLabel(U8(txt::Directory), group5), 0, 0);
        g->addWidget(Edit1000, 0, 1);
        g->addWidget(Button1000, 0, 2);
        g->addWidget(Label1101, 1, 0);
        g->addWidget(Edit1001, 1, 1);
    }
    auto* group1 = Named(new QGroupBox(U8(txt::ColumnOrder), TabSheetCSV), "GroupBox1");
    ListBox1 = Named(new QListWidget(group1), "ListBox1");
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setFont(bold);
    SpinButton1Up = Named(new QToolButton(group1), "SpinButton1Up");
    SpinButton1Up->setArrowType(Qt::UpArrow);
    SpinButton1Down = Named(new QToolButton(group1), "SpinButton1Down");
    SpinButton1Down->setArrowType(Qt::DownArrow);
    Label1 = Named(new QLabel(U8(txt::Separator), group1), "Label1");
    ComboBox1 = Named(new QComboBox(group1), "ComboBox1");
    ComboBox1->setFont(bold);
    {
        auto* spin = new QVBoxLayout;
        spin->addStretch(1);
        spin->addWidget(SpinButton1Up);
        spin->addWidget(SpinButton1Down);
        spin->addStretch(1);
        auto* g = new QGridLayout(group1);
        g->addWidget(ListBox1, 0, 0, 1, 2);
        g->addLayout(spin, 0, 2);
        g->addWidget(Label1, 1, 0);
        g->addWidget(ComboBox1, 1, 1);
        auto* tab = new QVBoxLayout(TabSheetCSV);
        tab->addWidget(group5);
        tab->addWidget(group1);
    }

    // Tab "UGS"
    TabSheetUGS = Named(new QWidget, "TabSheetUGS");
    auto* group6 = Named(new QGroupBox(U8(txt::Directory), TabSheetUGS), "GroupBox6");
    Edit2000 = DirectoryEdit(group6, "Edit2000");
    Button2000 = Named(new QPushButton(U8(txt::Change), group6), "Button2000");
    {
        auto* g = new QGridLayout(group6);
        g->addWidget(new QLabel(U8(txt::Directory), group6), 0, 0);
        g->addWidget(Edit2000, 0, 1);
        g->addWidget(Button2000, 0, 2);
        auto* tab = new QVBoxLayout(TabSheetUGS);
        tab->addWidget(group6);
        tab->addStretch(1);
    }

    // The tab captions are fixed; only the first equals a catalogue text.
    PageControl->addTab(TabSheetEinstellungen, U8(msg::Settings.text));
    PageControl->addTab(TabSheet3, U8(txt::TabShop));
    PageControl->addTab(TabSheetCSV, U8(txt::TabCsv));
    PageControl->addTab(TabSheetUGS, U8(txt::TabUgs));

    ButtonBeenden = Named(new QPushButton(this), "ButtonBeenden");
    ButtonBeenden->setAutoDefault(false);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(ButtonBeenden);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ButtonBeenden, &QPushButton::clicked, this, &TFormSetup1::ButtonBeendenClick);
    connect(ComboBoxDevice, &QComboBox::activated, this, &TFormSetup1::ComboBoxDeviceChange);
    for (QComboBox* box : {ComboBoxBrowser1, ComboBoxBrowser2}) {
        connect(box, &QComboBox::activated, this, [this, box] { ComboBoxBrowser1Change(box); });
    }
    connect(SpinButton1Up, &QToolButton::clicked, this, &TFormSetup1::SpinButton1UpClick);
    connect(SpinButton1Down, &QToolButton::clicked, this, &TFormSetup1::SpinButton1DownClick);
    connect(Button1000, &QPushButton::clicked, this, &TFormSetup1::Button1000Click);
    connect(Button2000, &QPushButton::clicked, this, &TFormSetup1::Button2000Click);

    SetTexts();
}

void TFormSetup1::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window manager's restore also shows the window; only an opening refills it.
    if (!event->spontaneous())
        FormActivate();
}

void TFormSetup1::FormActivate() {
    SetTexts();
    PageControl->setCurrentWidget(TabSheetEinstellungen);

    ComboBoxCom->clear();
    for (int n = 1; n <= kComPortCount; ++n)
        ComboBoxCom->addItem(QStringLiteral("COM%1").arg(n));
    FillComboBoxCom();
    ComboBoxCom->setCurrentIndex(ComPortNumber() - 1);

    ComboBoxDevice->setCurrentIndex(progpar.device == 1 ? 1 : 0);
    CheckBox100->setChecked(progpar.minimize);
    CheckBox101->setChecked(progpar.trayicon);
    CheckBox102->setChecked(progpar.taskbar);
    CheckBox103->setChecked(progpar.confirmclose);
    CheckBox104->setChecked(AutostartEnabledForThisProgram());
    (progpar.delivery == 1 ? RadioDeliveryExtension : RadioDeliveryKeys)->setChecked(true);

    const std::array<QComboBox*, 2> browsers{ComboBoxBrowser1, ComboBoxBrowser2};
    const std::array<QLineEdit*, 2> titles{Edit201, Edit211};
    const std::array<QLineEdit*, 2> forms{Edit202, Edit212};
    for (size_t i = 0; i < 2; ++i) {
        const int32_t b = progpar.browser[i];
        browsers[i]->setCurrentIndex(b >= 0 && b <= 3 ? b : 0);
        titles[i]->setText(progpar.browsertitle[i]);
        forms[i]->setText(progpar.formtitle[i]);
    }
    FillCsvTab();
    Edit2000->setText(ShortenPathForEdit(progpar.ugsdir, Edit2000));
    Edit205->setText(progpar.praefix);
    for (QComboBox* box : browsers)
        ComboBoxBrowser1Change(box);
    ShowVersionInfo();
}

void TFormSetup1::SetTexts() {
    setWindowTitle(Text(msg::Settings));
    ButtonBeenden->setText(Text(msg::Save));
    GroupBox100->setTitle(Text(msg::Info));
    GroupBox3->setTitle(Text(msg::Interface));
    Label20->setText(Text(msg::Port));
    Label21->setText(Text(msg::Device));
    GroupBox200->setTitle(U8(brand().shop_button));
    ComboBoxDevice->clear();
    ComboBoxDevice->addItems({Text(msg::DeviceOpl), Text(msg::DeviceOpn)});
    for (QComboBox* box : {ComboBoxBrowser1, ComboBoxBrowser2}) {
        box->clear();
        box->addItems({Text(msg::BrowserManual), Text(msg::BrowserMicrosoft),
                       Text(msg::BrowserFirefox), Text(msg::BrowserChrome)});
    }
}

void TFormSetup1::FillCsvTab() {
    const bool opn_mode = OpnCsvMode();
    Label1101->hide();
    Edit1001->hide();
    Edit1000->setText(ShortenPathForEdit(CsvDirField(), Edit1000));

    ListBox1->clear();
    const auto& names = opn_mode ? opn_csvcolumnnames : csvcolumnnames;
    const auto& pos = opn_mode ? progpar.opn_csvpos : progpar.csvpos;
    const int columns = opn_mode ? 3 : 6;
    for (int k = 0; k < columns; ++k) {
        int32_t p = pos[static_cast<size_t>(k)];
        // A position outside the table shows the column of its own place.
        if (p < 0 || p >= columns)
            p = k;
        ListBox1->addItem(QString::fromUtf16(names[static_cast<size_t>(p)]));
    }

    ComboBox1->clear();
    for (const separatortype& s : csvseparators)
        ComboBox1->addItem(QString::fromUtf16(s.name));
    const int32_t s = opn_mode ? progpar.opn_csvseparator : progpar.csvseparator;
    ComboBox1->setCurrentIndex(s >= 0 && s < static_cast<int32_t>(csvseparators.size()) ? s : 0);
}

void TFormSetup1::ShowVersionInfo() {
    Label110->setText(U8(txt::ProgramVersion));
    const bool show = progpar.device != 0;
    Label101->setVisible(show);
    Label111->setVisible(show);
    if (show)
        Label111->setText(opn.dllversion);
}

void TFormSetup1::ComboBoxBrowser1Change(QComboBox* box) {
    QLineEdit* title = box == ComboBoxBrowser1 ? Edit201 : Edit211;
    const int index = box->currentIndex();
    title->setVisible(true);
    title->setReadOnly(index != 0);
    // The word shown is the one saved: an INI keeps what it always held.
    if (index >= 1 && index <= 3)
        title->setText(ShopBrowserWord(index, QString()));
}

void TFormSetup1::ComboBoxDeviceChange() {
    progpar.device = ComboBoxDevice->currentIndex() == 0 ? 0 : 1;
    ShowVersionInfo();
    FillCsvTab();
}

void TFormSetup1::SpinButton1UpClick() {
    const int i = ListBox1->currentRow();
    if (i <= 0 || !ListBox1->item(i)->isSelected()) {
        dialogs().beep();
        return;
    }
    QListWidgetItem* item = ListBox1->takeItem(i);
    ListBox1->insertItem(i - 1, item);
    ListBox1->setCurrentRow(i - 1);
}

void TFormSetup1::SpinButton1DownClick() {
    const int i = ListBox1->currentRow();
    if (i < 0 || i >= ListBox1->count() - 1 || !ListBox1->item(i)->isSelected()) {
        dialogs().beep();
        return;
    }
    QListWidgetItem* item = ListBox1->takeItem(i);
    ListBox1->insertItem(i + 1, item);
    ListBox1->setCurrentRow(i + 1);
}

QString& TFormSetup1::CsvDirField() const {
    return OpnCsvMode() ? progpar.opn_csvdir : progpar.csvdir;
}

void TFormSetup1::ChooseDirectory(QString& field, QLineEdit* edit) {
    dir_select_->SelectedDirectory = field;
    dir_select_->exec();
    field = dir_select_->SelectedDirectory;
    edit->setText(ShortenPathForEdit(field, edit));
}

void TFormSetup1::Button1000Click() {
    ChooseDirectory(CsvDirField(), Edit1000);
}

void TFormSetup1::Button2000Click() {
    ChooseDirectory(progpar.ugsdir, Edit2000);
}

void TFormSetup1::ComboBoxComDropDown() {
    FillComboBoxCom();
}

void TFormSetup1::FillComboBoxCom() {
    vt::FillComboBoxCom(*ComboBoxCom);
}

QString TFormSetup1::ShortenPathForEdit(const QString& path, QLineEdit* edit) const {
    const QFontMetrics metrics(edit->font());
    edit->setToolTip(path);
    return ShortenPath(path, edit->width(),
                       [&metrics](const QString& text) { return metrics.horizontalAdvance(text); });
}

int TFormSetup1::ComPortNumber() const {
    return vt::ComPortNumber(progpar.port);
}

// The selected entry decides by its position. Text typed by hand counts when
// it names one of the ports; anything else keeps the port there was, so the
// record never holds a port that cannot exist.
QString TFormSetup1::PortToStore() const {
    const QString text = ComboBoxCom->currentText();
    int index = ComboBoxCom->currentIndex();
    if (index < 0 || ComboBoxCom->itemText(index) != text)
        index = ComboBoxCom->findText(text);
    if (index >= 0)
        return QStringLiteral("COM%1").arg(index + 1);
    if (const std::optional<int> n = TypedComNumber(text))
        return QStringLiteral("COM%1").arg(*n);
    return progpar.port;
}

void TFormSetup1::FormClose() {
    progpar.port = PortToStore();
    progpar.device = ComboBoxDevice->currentIndex() == 1 ? 1 : 0;
    progpar.minimize = CheckBox100->isChecked();
    progpar.trayicon = CheckBox101->isChecked();
    progpar.taskbar = CheckBox102->isChecked();
    progpar.confirmclose = CheckBox103->isChecked();
    progpar.delivery = RadioDeliveryExtension->isChecked() ? 1 : 0;
    // Only a change touches the entry, so one the user wrote is left alone
    // until the box is switched.
    if (CheckBox104->isChecked() != AutostartEnabledForThisProgram())
        ApplyAutostart(CheckBox104->isChecked());

    const std::array<QComboBox*, 2> browsers{ComboBoxBrowser1, ComboBoxBrowser2};
    const std::array<QLineEdit*, 2> titles{Edit201, Edit211};
    const std::array<QLineEdit*, 2> forms{Edit202, Edit212};
    for (size_t i = 0; i < 2; ++i) {
        const int b = browsers[i]->currentIndex();
        progpar.browser[i] = b >= 1 && b <= 3 ? b : 0;
        progpar.browsertitle[i] = titles[i]->text();
        progpar.formtitle[i] = forms[i]->text();
    }

    const bool opn_mode = OpnCsvMode();
    const auto& names = opn_mode ? opn_csvcolumnnames : csvcolumnnames;
    auto& pos = opn_mode ? progpar.opn_csvpos : progpar.csvpos;
    for (int i = 0; i < ListBox1->count() && i < static_cast<int>(pos.size()); ++i) {
        const QString text = ListBox1->item(i)->text();
        for (size_t k = 0; k < 6; ++k) {
            if (text == QString::fromUtf16(names[k]))
                pos[static_cast<size_t>(i)] = int32_t(k);
        }
    }
    const int s = ComboBox1->currentIndex() < 0 ? 0 : ComboBox1->currentIndex();
    (opn_mode ? progpar.opn_csvseparator : progpar.csvseparator) = s;
    progpar.praefix = Edit205->text();
}

void TFormSetup1::ButtonBeendenClick() {
    accept();
}

// "Speichern", the close box and Escape all end here, so each writes back.
void TFormSetup1::done(int result) {
    FormClose();
    QDialog::done(result);
}

}  // namespace vt
