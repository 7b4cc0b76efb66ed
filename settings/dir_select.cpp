#include "settings/dir_select.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QStorageInfo>
#include <QStyle>
#include <QVBoxLayout>

#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "settings/dir_new.h"
#include "settings/settings.h"

namespace vt {
namespace {

constexpr int kPathRole = Qt::UserRole;

// "/" on Linux, a drive's "C:/" on Windows: its own parent.
bool IsRootDir(const QString& dir) {
    return QFileInfo(dir).absolutePath() == dir;
}

// Windows names a folder without regard to case.
constexpr Qt::CaseSensitivity kNameCase =
#ifdef Q_OS_WIN
    Qt::CaseInsensitive;
#else
    Qt::CaseSensitive;
#endif

bool IsUnder(const QString& dir, const QString& root) {
    if (root.endsWith(u'/'))
        return dir.startsWith(root, kNameCase) || dir.compare(root.chopped(1), kNameCase) == 0;
    return dir.compare(root, kNameCase) == 0 || dir.startsWith(root + u'/', kNameCase);
}

}  // namespace

QStringList DriveRoots() {
#ifdef Q_OS_WIN
    // The drives, as the drive list of Windows programs has always shown them.
    QStringList roots;
    for (const QFileInfo& drive : QDir::drives())
        roots << drive.absolutePath();
#else
    QStringList roots{QStringLiteral("/")};
#endif
    const QString home = QDir::homePath();
    if (!roots.contains(home))
        roots << home;
    QStringList media;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || !volume.isReady())
            continue;
        if (root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/mnt/")) ||
            root.startsWith(QLatin1String("/run/media/"))) {
            if (!media.contains(root))
                media << root;
        }
    }
    media.sort();
    return roots + media;
}

TFormDirSelect::TFormDirSelect(TFormDirNew* dir_new, QWidget* parent)
    : QDialog(parent), dir_new_(dir_new), directory_(QDir::currentPath()) {
    setObjectName(QStringLiteral("FormDirSelect"));
    setWindowTitle(QString::fromUtf8(txt::Directory));
    setModal(true);

    DriveComboBox = new QComboBox(this);
    DriveComboBox->setObjectName(QStringLiteral("DriveComboBox"));
    DirectoryLabel = new QLabel(this);
    DirectoryLabel->setObjectName(QStringLiteral("DirectoryLabel"));
    DirectoryListBox = new QListWidget(this);
    DirectoryListBox->setObjectName(QStringLiteral("DirectoryListBox"));
    DirectoryListBox->setMinimumSize(320, 280);
    ButtonNeu = new QPushButton(QString::fromUtf8(txt::New), this);
    ButtonNeu->setObjectName(QStringLiteral("ButtonNeu"));
    ButtonAbbrechen = new QPushButton(QString::fromUtf8(txt::Cancel), this);
    ButtonAbbrechen->setObjectName(QStringLiteral("ButtonAbbrechen"));
    ButtonUebernehmen = new QPushButton(QString::fromUtf8(txt::Accept), this);
    ButtonUebernehmen->setObjectName(QStringLiteral("ButtonUebernehmen"));
    // Enter in the list opens a directory; it must not close the chooser.
    for (QPushButton* b : {ButtonNeu, ButtonAbbrechen, ButtonUebernehmen})
        b->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ButtonNeu);
    buttons->addStretch(1);
    buttons->addWidget(ButtonAbbrechen);
    buttons->addWidget(ButtonUebernehmen);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(DriveComboBox);
    layout->addWidget(DirectoryLabel);
    layout->addWidget(DirectoryListBox, 1);
    layout->addLayout(buttons);

    connect(DriveComboBox, &QComboBox::activated, this, &TFormDirSelect::DriveComboBoxChange);
    connect(DirectoryListBox, &QListWidget::itemActivated, this,
            &TFormDirSelect::DirectoryListBoxOpen);
    connect(ButtonNeu, &QPushButton::clicked, this, &TFormDirSelect::ButtonNeuClick);
    connect(ButtonAbbrechen, &QPushButton::clicked, this, &TFormDirSelect::ButtonAbbrechenClick);
    connect(ButtonUebernehmen, &QPushButton::clicked, this,
            &TFormDirSelect::ButtonUebernehmenClick);

    FillDrives();
    FillDirectories();
}

bool TFormDirSelect::SetDirectory(const QString& dir) {
    const QFileInfo info(dir);
    if (dir.isEmpty() || !info.isDir())
        return false;
    directory_ = QDir::cleanPath(info.absoluteFilePath());
    FillDirectories();
    return true;
}

void TFormDirSelect::FillDrives() {
    DriveComboBox->clear();
    DriveComboBox->addItems(DriveRoots());
}

void TFormDirSelect::FillDirectories() {
    // A directory removed since the last use: stand in its nearest parent.
    while (!QFileInfo(directory_).isDir() && !IsRootDir(directory_)) {
        directory_ = QFileInfo(directory_).absolutePath();
    }
    DirectoryListBox->clear();
    const QIcon open_icon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed_icon = style()->standardIcon(QStyle::SP_DirClosedIcon);

    QStringList chain;  // "/", "/home", "/home/user" ... (or "C:/", "C:/Users" ...)
    for (QString d = directory_;; d = QFileInfo(d).absolutePath()) {
        chain.prepend(d);
        if (IsRootDir(d))
            break;
    }
    QListWidgetItem* current = nullptr;
    int depth = 0;
    for (const QString& d : chain) {
        const QString name = IsRootDir(d) ? d : QFileInfo(d).fileName();
        auto* item = new QListWidgetItem(open_icon, QString(depth * 2, u' ') + name);
        item->setData(kPathRole, d);
        DirectoryListBox->addItem(item);
        current = item;
        ++depth;
    }
    const QDir dir(directory_);
    for (const QString& name :
         dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase)) {
        auto* item = new QListWidgetItem(closed_icon, QString(depth * 2, u' ') + name);
        item->setData(kPathRole, dir.filePath(name));
        DirectoryListBox->addItem(item);
    }
    DirectoryListBox->setCurrentItem(current);
    DirectoryLabel->setText(directory_);

    // The drive list follows the directory: the longest drive root holding it.
    int best = -1;
    for (int i = 0; i < DriveComboBox->count(); ++i) {
        const QString root = DriveComboBox->itemText(i);
        if (IsUnder(directory_, root) &&
            (best < 0 || root.size() > DriveComboBox->itemText(best).size())) {
            best = i;
        }
    }
    DriveComboBox->setCurrentIndex(best);
}

void TFormDirSelect::DriveComboBoxChange(int index) {
    if (index >= 0)
        SetDirectory(DriveComboBox->itemText(index));
}

void TFormDirSelect::DirectoryListBoxOpen(QListWidgetItem* item) {
    if (item)
        SetDirectory(item->data(kPathRole).toString());
}

void TFormDirSelect::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window manager's restore also shows the window; only an opening refills it.
    if (!event->spontaneous())
        FormActivate();
}

void TFormDirSelect::FormActivate() {
    Cancelled = false;
    FillDrives();
    if (!SetDirectory(SelectedDirectory))
        FillDirectories();
    DirectoryListBox->setFocus();
}

bool TFormDirSelect::FormCloseQuery() {
    if (!Cancelled)
        SelectedDirectory = WithTrailingSeparator(directory_);
    return true;
}

void TFormDirSelect::ButtonAbbrechenClick() {
    Cancelled = true;
    reject();
}

void TFormDirSelect::ButtonUebernehmenClick() {
    accept();
}

// Every close passes here: the buttons, the close box and Escape alike.
void TFormDirSelect::done(int result) {
    FormCloseQuery();
    QDialog::done(result);
}

void TFormDirSelect::keyPressEvent(QKeyEvent* event) {
    // Escape means "Abbrechen"; without this it would accept like the close box.
    if (event->key() == Qt::Key_Escape) {
        ButtonAbbrechenClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFormDirSelect::ButtonNeuClick() {
    dir_new_->exec();
    const QString name = dir_new_->NewDirName;
    if (name.isEmpty())
        return;
    // One level only: a missing parent is an error, not something to create.
    if (QDir().mkdir(WithTrailingSeparator(directory_) + name)) {
        FillDirectories();
        return;
    }
    dialogs().beep();
    dialogs().message_box(Text(brand().caption_name), QString::fromUtf8(txt::CannotCreateDirectory),
                          BoxIcon::Warning, BoxButtons::Ok);
}

}  // namespace vt
