#include "platform/qt/QtFileDialog.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fnmatch.h>
#include <strings.h>
#include <unistd.h>
#include <sys/stat.h>

namespace tarvex {
namespace {

enum Column { NameColumn, SizeColumn, TimeColumn };
constexpr int entryRole = Qt::UserRole;

bool isFolder(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string parentOf(const std::string& folder)
{
    if (folder.size() <= 1)
        return "/";
    auto cut = folder.find_last_of('/', folder.size() - 2);
    return cut == std::string::npos ? "/" : folder.substr(0, cut + 1);
}

std::string homeFolder()
{
    const char* home = std::getenv("HOME");
    return withSeparator(home && *home ? home : "/");
}

} // namespace

FileDialog::FileDialog(const TextCodec& codec, bool save, QWidget* parent)
    : QDialog(parent), codec_(codec), save_(save)
{
    setObjectName("FileDialog");
    setModal(true);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("場所:", this), 0, 0);
    folderEdit = new QLineEdit(this);
    folderEdit->setObjectName("folderEdit");
    grid->addWidget(folderEdit, 0, 1, 1, 2);
    upButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogToParent), "上へ", this);
    upButton->setObjectName("upButton");
    upButton->setAutoDefault(false);
    grid->addWidget(upButton, 0, 3);

    fileList = new QTreeWidget(this);
    fileList->setObjectName("fileList");
    fileList->setHeaderLabels({"名前", "サイズ", "更新日時"});
    fileList->setRootIsDecorated(false);
    fileList->setUniformRowHeights(true);
    fileList->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    fileList->header()->setStretchLastSection(false);
    grid->addWidget(fileList, 1, 0, 1, 4);

    grid->addWidget(new QLabel("ファイル名:", this), 2, 0);
    nameEdit = new QLineEdit(this);
    nameEdit->setObjectName("nameEdit");
    grid->addWidget(nameEdit, 2, 1, 1, 2);
    okButton = new QPushButton(save ? "保存(&S)" : "開く(&O)", this);
    okButton->setObjectName("okButton");
    okButton->setDefault(true);
    grid->addWidget(okButton, 2, 3);

    grid->addWidget(new QLabel("ファイルの種類:", this), 3, 0);
    typeBox = new QComboBox(this);
    typeBox->setObjectName("typeBox");
    grid->addWidget(typeBox, 3, 1, 1, 2);
    cancelButton = new QPushButton("キャンセル", this);
    cancelButton->setObjectName("cancelButton");
    cancelButton->setAutoDefault(false);
    grid->addWidget(cancelButton, 3, 3);
    grid->setColumnStretch(1, 1);
    resize(640, 420);

    setFilter({});
    connect(okButton, &QPushButton::clicked, this, &FileDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &FileDialog::reject);
    connect(upButton, &QPushButton::clicked, this, [this] { setFolder(parentOf(folder_)); });
    connect(typeBox, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(folderEdit, &QLineEdit::returnPressed, this, [this] {
        std::string typed = folderEdit->text().toStdString();
        if (folderEdit->text() == shown(folder_) || folderEdit->text() == shown(folder_).chopped(1))
            return;
        if (typed.rfind("~/", 0) == 0 || typed == "~")
            typed = homeFolder() + typed.substr(std::min<std::size_t>(2, typed.size()));
        if (isFolder(typed))
            setFolder(typed);
        else
            QMessageBox::warning(this, windowTitle(), "パスが見つかりません。");
    });
    connect(fileList, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { enter(item); });
    connect(fileList, &QTreeWidget::itemSelectionChanged, this, [this] {
        const auto items = fileList->selectedItems();
        if (!items.isEmpty() && !entries_[items.front()->data(NameColumn, entryRole).toUInt()].folder)
            nameEdit->setText(items.front()->text(NameColumn));
    });
    // Enter in the list opens what is marked there, not the name below it.
    fileList->installEventFilter(this);
    nameEdit->setFocus();
}

bool FileDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == fileList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            enter(fileList->currentItem());
            return true;
        }
        if (key == Qt::Key_Backspace) {
            setFolder(parentOf(folder_));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QString FileDialog::shown(const std::string& bytes) const
{
    return QString::fromStdString(displayName(bytes, codec_));
}

void FileDialog::setFilter(const std::string& filter)
{
    filters_.clear();
    QSignalBlocker block(typeBox);
    typeBox->clear();
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
        auto bar = filter.find('|', from);
        parts.push_back(filter.substr(from, bar == std::string::npos ? bar : bar - from));
        if (bar == std::string::npos)
            break;
        from = bar + 1;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::vector<std::string> patterns;
        for (std::size_t from = 0;;) {
            auto semi = parts[i + 1].find(';', from);
            std::string p = parts[i + 1].substr(from, semi == std::string::npos ? semi : semi - from);
            // "*.*" means every file, also those without a dot.
            patterns.push_back(p == "*.*" ? "*" : p);
            if (semi == std::string::npos)
                break;
            from = semi + 1;
        }
        filters_.emplace_back(QString::fromStdString(parts[i]), patterns);
    }
    if (filters_.empty())
        filters_.emplace_back("全てのﾌｧｲﾙ(*.*)", std::vector<std::string>{"*"});
    for (const auto& f : filters_)
        typeBox->addItem(f.first); // each caption once, as it is written
    refresh();
}

void FileDialog::setDefaultExt(const std::string& ext)
{
    defaultExt_ = ext.empty() || ext.front() == '.' ? ext : "." + ext;
}

void FileDialog::propose(const std::string& path, const std::string& fallbackFolder)
{
    const auto cut = path.find_last_of('/');
    std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    if (folder.empty() || !isFolder(folder))
        folder = !fallbackFolder.empty() && isFolder(fallbackFolder) ? fallbackFolder : homeFolder();
    setFolder(folder);
    nameEdit->setText(shown(cut == std::string::npos ? path : path.substr(cut + 1)));
}

void FileDialog::setFolder(const std::string& folder)
{
    folder_ = withSeparator(folder);
    folderEdit->setText(shown(folder_));
    refresh();
}

void FileDialog::refresh()
{
    entries_.clear();
    fileList->clear();
    if (folder_.empty())
        return;
    const auto& patterns = filters_[static_cast<std::size_t>(std::max(0, typeBox->currentIndex()))].second;
    if (DIR* dir = ::opendir(folder_.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name.empty() || name.front() == '.')
                continue; // hidden, and "." and ".."
            const bool folder = isFolder(folder_ + name);
            const bool matches = std::any_of(patterns.begin(), patterns.end(), [&](const std::string& p) {
                // An application here is any executable file, with or without ".exe".
                if (::strcasecmp(p.c_str(), "*.exe") == 0 && !folder && ::access((folder_ + name).c_str(), X_OK) == 0)
                    return true;
                return ::fnmatch(p.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
            });
            if (folder || matches)
                entries_.push_back({name, shown(name), folder});
        }
        ::closedir(dir);
    }
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        if (a.folder != b.folder)
            return a.folder;
        const int c = a.shown.compare(b.shown, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        const Entry& e = entries_[k];
        auto* item = new QTreeWidgetItem(fileList);
        item->setText(NameColumn, e.shown);
        item->setIcon(NameColumn, e.folder ? folderIcon : fileIcon);
        item->setData(NameColumn, entryRole, static_cast<uint>(k));
        struct stat st;
        if (::stat((folder_ + e.name).c_str(), &st) == 0) {
            if (!e.folder)
                item->setText(SizeColumn, QLocale::c().toString(static_cast<qlonglong>(st.st_size)));
            item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
            item->setText(TimeColumn,
                          QDateTime::fromSecsSinceEpoch(st.st_mtime).toString("yyyy/MM/dd hh:mm"));
        }
    }
    fileList->resizeColumnToContents(SizeColumn);
    fileList->resizeColumnToContents(TimeColumn);
}

void FileDialog::enter(QTreeWidgetItem* item)
{
    if (!item)
        return;
    const Entry& e = entries_[item->data(NameColumn, entryRole).toUInt()];
    if (e.folder) {
        setFolder(folder_ + e.name);
        return;
    }
    nameEdit->setText(e.shown);
    accept();
}

std::string FileDialog::typedName() const
{
    const QString text = nameEdit->text().trimmed();
    // A listed name is taken by its real bytes, whatever they are.
    for (const Entry& e : entries_)
        if (e.shown == text)
            return e.name;
    std::string name = text.toStdString();
    if (name == "~" || name.rfind("~/", 0) == 0)
        name = homeFolder() + name.substr(std::min<std::size_t>(2, name.size()));
    return name;
}

void FileDialog::accept()
{
    const std::string name = typedName();
    if (name.empty())
        return;
    std::string path = name.front() == '/' ? name : folder_ + name;
    if (isFolder(path)) {
        setFolder(path);
        nameEdit->clear();
        return;
    }
    const std::string title = fileTitle(path);
    const QString shownTitle = shown(title);
    if (save_) {
        if (!defaultExt_.empty() && title.find('.') == std::string::npos)
            path += defaultExt_;
        if (!isFolder(path.substr(0, path.find_last_of('/') + 1))) {
            QMessageBox::warning(this, windowTitle(), shownTitle + "\nパスが見つかりません。");
            return;
        }
        if (exists(path)
            && QMessageBox::question(this, windowTitle(),
                                     shown(fileTitle(path)) + " は既に存在します。\n上書きしますか?",
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                   != QMessageBox::Yes)
            return;
    } else if (!exists(path)) {
        QMessageBox::warning(this, windowTitle(),
                             shownTitle + "\nファイルが見つかりません。\nファイル名を確認してください。");
        return;
    }
    chosen_ = path;
    QDialog::accept();
}

} // namespace tarvex
