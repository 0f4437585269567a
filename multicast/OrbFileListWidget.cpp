// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbFileListWidget.h"

#include "OrbFileBrowser.h"
#include "OrbUtils/OrbTranslate.h"
#include "OrbUtils/rtp/RTPFileAudioReader.h"
#include "resources/FenwaResources.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPointer>

namespace {
const char kBlack[] = "QLabel{color:#000000;}";
const char kRed[] = "QLabel{color:#ff0000;}";
const char kUnknownDuration[] = "--:--";

QLabel *rowLabel(QWidget *parent, int stretch, QHBoxLayout *layout)
{
    auto *label = new QLabel(parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setStyleSheet(QLatin1String(kBlack));
    layout->addWidget(label, stretch);
    return label;
}
} // namespace

OrbFileListHeaderWidget::OrbFileListHeaderWidget(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("OrbFileListHeaderWidget"));
    setStyleSheet(QStringLiteral("#OrbFileListHeaderWidget{background-color:#ffc8dafa}"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    rowLabel(this, 2, layout)->setText(translate("Name"));
    rowLabel(this, 1, layout)->setText(translate("Duration"));
}

OrbFileListItemWidget::OrbFileListItemWidget(QWidget *parent) : QFrame(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    nameLabel = rowLabel(this, 2, layout);
    durationLabel = rowLabel(this, 1, layout);
}

void OrbFileListItemWidget::setFile(const QString &path, const QString &duration)
{
    nameLabel->setText(OrbFileListWidget::fileName(path));
    nameLabel->setToolTip(path);
    durationLabel->setText(duration);
}

void OrbFileListItemWidget::setDuration(const QString &duration)
{
    durationLabel->setText(duration);
}

void OrbFileListItemWidget::setPlaying(bool on)
{
    playing = on;
    const QString style = QLatin1String(on ? kRed : kBlack);
    nameLabel->setStyleSheet(style);
    durationLabel->setStyleSheet(style);
}

QString OrbFileListItemWidget::name() const
{
    return nameLabel->text();
}

QString OrbFileListItemWidget::duration() const
{
    return durationLabel->text();
}

OrbFileListTailWidget::OrbFileListTailWidget(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("OrbFileListTailWidget"));
    setStyleSheet(QStringLiteral("#OrbFileListTailWidget{background-color:#00ffffff}"));
    initFenwaResources();
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *icon = new QLabel(this);
    icon->setFixedSize(20, 20);
    icon->setAlignment(Qt::AlignCenter);
    // From the icon: at the screen's pixel ratio (36 pixels on a 200% desktop).
    icon->setPixmap(QIcon(QStringLiteral(":/resources/add.png")).pixmap(18, 18));
    icon->setCursor(Qt::PointingHandCursor);
    icon->setToolTip(translate("Add"));
    layout->addWidget(icon, 0, Qt::AlignCenter);
}

OrbFileListWidget::OrbFileListWidget(QWidget *parent) : QFrame(parent), list(new FenwaFileListWidget(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    readers.setMaxThreadCount(1);
    chooseFiles = [this] {
        return QFileDialog::getOpenFileNames(this, translate("Add"), QString(), QStringLiteral("*.mp3"));
    };
    connect(list, &QListWidget::itemClicked, this, &OrbFileListWidget::onItemClicked);
    connect(list, &QListWidget::itemDoubleClicked, this, &OrbFileListWidget::onItemDoubleClicked);
    connect(list, &QWidget::customContextMenuRequested, this, &OrbFileListWidget::onContextMenu);
    rebuild();
}

OrbFileListWidget::~OrbFileListWidget()
{
    readers.clear();
    readers.waitForDone();
}

void OrbFileListWidget::setFiles(const QStringList &files)
{
    fileList = files;
    rebuild();
}

void OrbFileListWidget::rebuild()
{
    list->clear();
    header = new OrbFileListHeaderWidget;
    auto *top = new QListWidgetItem(list);
    top->setSizeHint(QSize(250, 30));
    top->setFlags(Qt::ItemIsEnabled);
    list->setItemWidget(top, header);
    for (int i = 0; i < fileList.size(); ++i) {
        auto *row = new QListWidgetItem(list);
        row->setSizeHint(QSize(200, 30));
        auto *widget = new OrbFileListItemWidget;
        widget->setFile(fileList.at(i), shownDuration(fileList.at(i)));
        widget->setPlaying(i == playing);
        list->setItemWidget(row, widget);
    }
    tail = new OrbFileListTailWidget;
    auto *bottom = new QListWidgetItem(list);
    bottom->setSizeHint(QSize(250, 30));
    bottom->setFlags(Qt::ItemIsEnabled);
    list->setItemWidget(bottom, tail);
    header->setEnabled(editable);
    tail->setEnabled(editable);
    requestDurations();
}

QString OrbFileListWidget::shownDuration(const QString &path) const
{
    const double seconds = durations.value(path, -1);
    return seconds < 0 ? QLatin1String(kUnknownDuration) : durationText(seconds);
}

void OrbFileListWidget::requestDurations()
{
    QStringList unknown;
    for (const QString &path : fileList)
        if (!durations.contains(path) && !unknown.contains(path))
            unknown << path;
    if (unknown.isEmpty())
        return;
    for (const QString &path : unknown)
        durations.insert(path, -1); // asked for; shown as unknown until read
    QPointer<OrbFileListWidget> self(this);
    readers.start([self, unknown] {
        for (const QString &path : unknown) {
            const double seconds = RTPFileAudioReader::fileDuration(path);
            if (self.isNull())
                return;
            QMetaObject::invokeMethod(
                self.data(), [self, path, seconds] {
                    if (self)
                        self->onDuration(path, seconds);
                },
                Qt::QueuedConnection);
        }
    });
}

void OrbFileListWidget::onDuration(const QString &path, double seconds)
{
    durations.insert(path, seconds);
    for (int i = 0; i < fileList.size(); ++i)
        if (fileList.at(i) == path)
            if (OrbFileListItemWidget *widget = itemWidget(i))
                widget->setDuration(durationText(seconds));
}

void OrbFileListWidget::waitForDurations()
{
    readers.waitForDone();
    QCoreApplication::sendPostedEvents(this);
}

OrbFileListItemWidget *OrbFileListWidget::itemWidget(int file) const
{
    if (file < 0 || file >= fileList.size())
        return nullptr;
    return qobject_cast<OrbFileListItemWidget *>(list->itemWidget(list->item(file + 1)));
}

void OrbFileListWidget::setEditable(bool on)
{
    editable = on;
    if (header)
        header->setEnabled(on);
    if (tail)
        tail->setEnabled(on);
}

void OrbFileListWidget::setPlaying(int row)
{
    playing = row;
    for (int i = 0; i < fileList.size(); ++i)
        if (OrbFileListItemWidget *widget = itemWidget(i))
            widget->setPlaying(i == row);
}

QString OrbFileListWidget::durationText(double seconds)
{
    const long long s = seconds > 0 ? static_cast<long long>(seconds) : 0;
    if (s < 3601)
        return QString::asprintf("%02lld:%02lld", s / 60, s % 60);
    return QString::asprintf("%02lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
}

QString OrbFileListWidget::fileName(const QString &path)
{
    const int cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    if (cut < 0 || cut == path.size() - 1)
        return path;
    return path.mid(cut + 1);
}

void OrbFileListWidget::addFiles(int row, const QStringList &chosen)
{
    const int at = row < 0 ? fileList.size() : std::min(row + 1, int(fileList.size()));
    // In the order they were picked.
    for (int i = 0; i < chosen.size(); ++i)
        fileList.insert(at + i, chosen.at(i));
    // The red mark follows its file.
    if (playing >= at)
        playing += int(chosen.size());
    rebuild();
}

void OrbFileListWidget::topFile(int row)
{
    if (row <= 0 || row >= fileList.size())
        return;
    fileList.swapItemsAt(0, row);
    if (playing == 0 || playing == row)
        playing = playing == 0 ? row : 0;
    for (int i : {0, row}) {
        OrbFileListItemWidget *widget = itemWidget(i);
        widget->setFile(fileList.at(i), shownDuration(fileList.at(i)));
        widget->setPlaying(i == playing);
    }
}

void OrbFileListWidget::deleteFile(int row)
{
    if (row < 0 || row >= fileList.size())
        return;
    fileList.removeAt(row);
    delete list->takeItem(row + 1);
    if (playing == row)
        playing = -1;
    else if (playing > row)
        --playing;
}

void OrbFileListWidget::onClickLocationFile()
{
    if (contextRow >= 0 && contextRow < fileList.size())
        showInFileManager(fileList.at(contextRow));
}

void OrbFileListWidget::onClickTopFile()
{
    topFile(contextRow);
}

void OrbFileListWidget::onClickAddFile()
{
    const QStringList chosen = chooseFiles ? chooseFiles() : QStringList();
    if (!chosen.isEmpty())
        addFiles(contextRow, chosen);
}

void OrbFileListWidget::onClickDeleteFile()
{
    deleteFile(contextRow);
}

void OrbFileListWidget::onItemClicked(QListWidgetItem *item)
{
    if (editable && list->row(item) == fileList.size() + 1) {
        contextRow = -1;
        onClickAddFile();
    }
}

void OrbFileListWidget::onItemDoubleClicked(QListWidgetItem *item)
{
    const int file = list->row(item) - 1;
    if (file >= 0 && file < fileList.size())
        emit doubleClicked(file);
}

void OrbFileListWidget::onContextMenu(const QPoint &pos)
{
    if (!editable)
        return;
    QListWidgetItem *item = list->itemAt(pos);
    contextRow = item ? list->row(item) - 1 : -1;
    QMenu menu(this);
    if (contextRow >= 0 && contextRow < fileList.size()) {
        menu.addAction(translate("Open In Explorer"), this, &OrbFileListWidget::onClickLocationFile);
        menu.addAction(translate("Top"), this, &OrbFileListWidget::onClickTopFile);
        menu.addAction(translate("Add"), this, &OrbFileListWidget::onClickAddFile);
        menu.addAction(translate("Delete"), this, &OrbFileListWidget::onClickDeleteFile);
    } else {
        menu.addAction(translate("Add"), this, &OrbFileListWidget::onClickAddFile);
    }
    menu.exec(list->viewport()->mapToGlobal(pos));
}
