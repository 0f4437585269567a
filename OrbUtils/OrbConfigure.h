// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class QSettings;

// Typed front over configure.ini in the per-user configure directory, every
// value a text (typed QSettings values in the file read as absent). Short
// lived: create one, read or write a few keys, drop it. Several may exist at
// once; each writes its own changes, which QSettings merges on sync. A file
// over kFileMax bytes, or a path that is not a regular file, is neither read
// nor written (logged once): every key reads as absent.
class OrbConfigure : public QObject
{
    Q_OBJECT
public:
    enum : qint64 { kFileMax = 1 << 20 };

    explicit OrbConfigure(QObject *parent = nullptr);
    ~OrbConfigure() override;

    // The file behind every store ("<configure dir>/configure.ini").
    static QString filePath();

    // "cn" or "en"; empty when never written.
    QString language() const;
    void setLanguage(const QString &value);
    // Writes "en" when no language is stored yet (first start).
    void ensureLanguage();

    // Name of the chosen network adapter.
    QString network() const;
    void setNetwork(const QString &value);

    // Multicast dialog state.
    QString rtpServer() const;
    void setRtpServer(const QString &value);
    QString deviceId() const;
    void setDeviceId(const QString &value);
    // Only the listed files that exist now, in stored order.
    QStringList rtpFileList() const;
    void setRtpFileList(const QStringList &files);
    // 0 when absent or not a number.
    int rtpSourceIndex() const;
    void setRtpSourceIndex(int index);
    // Network interface that carries the multicast; empty for the routing
    // table's choice.
    QString rtpInterface() const;
    void setRtpInterface(const QString &value);

    // "Keep searching" beside the Search button; off when never written.
    bool keepSearching() const;
    void setKeepSearching(bool on);

    // The site the handover report is about, and who makes it; empty when
    // never written.
    QString siteName() const;
    void setSiteName(const QString &value);
    QString reportAuthor() const;
    void setReportAuthor(const QString &value);

    // The main window's size, place and state as QWidget::saveGeometry
    // gives them; empty when never written.
    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray &value);

    // Writes pending changes now (destruction does it too).
    void sync();

private:
    QString text(const char *key) const;
    void put(const QString &key, const QVariant &value);
    QSettings *settings = nullptr; // none when the file is refused
};
