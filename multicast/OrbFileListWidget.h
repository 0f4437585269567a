// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>
#include <QHash>
#include <QListWidget>
#include <QStringList>
#include <QThreadPool>

#include <functional>

class QLabel;

// The inner list: row 0 is the header, rows 1..n the files, row n + 1 the
// row that adds files.
class FenwaFileListWidget : public QListWidget
{
    Q_OBJECT
public:
    using QListWidget::QListWidget;
};

class OrbFileListHeaderWidget : public QFrame
{
    Q_OBJECT
public:
    explicit OrbFileListHeaderWidget(QWidget *parent = nullptr);
};

class OrbFileListItemWidget : public QFrame
{
    Q_OBJECT
public:
    explicit OrbFileListItemWidget(QWidget *parent = nullptr);
    void setFile(const QString &path, const QString &duration);
    void setDuration(const QString &duration);
    void setPlaying(bool playing);
    bool isPlaying() const { return playing; }
    QString name() const;
    QString duration() const;

private:
    QLabel *nameLabel;
    QLabel *durationLabel;
    bool playing = false;
};

class OrbFileListTailWidget : public QFrame
{
    Q_OBJECT
public:
    explicit OrbFileListTailWidget(QWidget *parent = nullptr);
};

// The play list of the multicast dialog: file names with their play time,
// the playing file in red, a context menu (show in the file manager, move to
// the top, add, delete) and a last row that adds files.
//
// Threads: everything runs on the interface thread except reading play
// times, which a pool of this widget's own does (a long list of files on a
// slow share must not freeze the dialog); results come back as queued calls
// and are dropped if the widget has gone. The destructor waits for a read
// still running.
class OrbFileListWidget : public QFrame
{
    Q_OBJECT
public:
    explicit OrbFileListWidget(QWidget *parent = nullptr);
    ~OrbFileListWidget() override;

    void setFiles(const QStringList &files);
    QStringList files() const { return fileList; }
    void setEditable(bool editable);
    bool isEditable() const { return editable; }
    void setPlaying(int row);
    int playingRow() const { return playing; }

    // The menu's actions with the file row they apply to (-1: none). Adding
    // inserts the chosen paths after contextRow (at the end for -1) in the
    // order they were chosen.
    void addFiles(int contextRow, const QStringList &chosen);
    void topFile(int contextRow);
    void deleteFile(int contextRow);

    FenwaFileListWidget *listWidget() const { return list; }
    OrbFileListItemWidget *itemWidget(int file) const;
    // Picks the files to add; a file dialog unless replaced (tests).
    std::function<QStringList()> chooseFiles;
    // Waits until every play time asked for has been read (tests).
    void waitForDurations();

    // "mm:ss" below 3601 s (so 3600 s is 60:00), "hh:mm:ss" from there.
    static QString durationText(double seconds);
    // The part after the last / or \, or the whole path.
    static QString fileName(const QString &path);

signals:
    void doubleClicked(int position);

public slots:
    void onClickLocationFile();
    void onClickTopFile();
    void onClickAddFile();
    void onClickDeleteFile();

private slots:
    void onItemClicked(QListWidgetItem *item);
    void onItemDoubleClicked(QListWidgetItem *item);
    void onContextMenu(const QPoint &pos);

private:
    void rebuild();
    void requestDurations();
    QString shownDuration(const QString &path) const;
    void onDuration(const QString &path, double seconds);

    FenwaFileListWidget *list;
    OrbFileListHeaderWidget *header = nullptr;
    OrbFileListTailWidget *tail = nullptr;
    QStringList fileList;
    QHash<QString, double> durations; // by path; -1 while being read
    QThreadPool readers;
    int contextRow = -1;
    int playing = -1;
    bool editable = true;
};
