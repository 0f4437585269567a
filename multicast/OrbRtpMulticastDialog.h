// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/widgets/OrbDialog.h"
#include "OrbUtils/rtp/RTPFileAudioReader.h"

#include <memory>

class OrbCoreAudioSelectWidget;
class OrbFileListWidget;
class OrbToast;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class RTPMulticast;

// The operator's window for streaming a play list or a capture source to an
// RTP multicast group. Modeless and at most one at a time (instance()); it
// deletes itself once dismissed, stopping a running stream first.
//
// Threads: all of the dialog runs on the interface thread. The play list
// reader calls onFileOpened/onFileOpenFailed on whichever thread opened the
// file (this one, or the RTP send thread at the end of a file); they only
// emit signals that are queued back here, also when emitted here, so a file
// that fails inside start or a double click never stops the run while the
// reader's own code is still on the stack. A run owns downward: the
// RTPMulticast owns its source; stopping it ends the RTP threads before the
// source.
class OrbRtpMulticastDialog : public OrbDialog, public RTPFileAudioReaderObserver
{
    Q_OBJECT
public:
    enum { FilesTab = 0, SourceTab = 1 };

    OrbRtpMulticastDialog();
    ~OrbRtpMulticastDialog() override;

    static OrbRtpMulticastDialog *instance();
    // Rejects (and so closes and deletes) the dialog if there is one.
    static void closeInstance();

    // Splits "host:port"; false unless there are exactly two parts, a host
    // and a port from 1 to 65535.
    static bool parseServer(const QString &text, QString *host, int *port);

    bool isStreaming() const { return multicast != nullptr; }
    QLineEdit *addressField() const { return address; }
    QTabWidget *tabs() const { return tab; }
    OrbFileListWidget *fileList() const { return files; }
    OrbCoreAudioSelectWidget *sourceSelector() const { return sources; }
    QComboBox *interfaceBox() const { return interfaces; }
    QPushButton *startButton() const { return start; }
    QPushButton *stopButton() const { return stop; }
    OrbToast *toast() const { return notice; }
    // Why the last stream stopped by itself (the source is gone, nothing can
    // be sent to the group), or while it runs that its capture source falls
    // behind real time or overflows; empty after the operator's Stop.
    QLabel *statusLine() const { return status; }

    void onFileOpened(RTPFileAudioReader *reader, int32_t index, const QString &path) override;
    void onFileOpenFailed(RTPFileAudioReader *reader, int32_t index, const QString &path) override;

signals:
    void stopAsync();
    void updateFilePlayingAysnc(int position, QString file);
    void fileFailedAsync(QString file);

public slots:
    void onClickStartButton(bool checked);
    void onClickStopButton(bool checked);
    void onDoubleClickFile(int position);
    void onStop();
    void onUpdateFilePlaying(int position, QString file);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void showNotice(const char *text);
    void stopRun();
    void setIdle(bool idle);
    void checkSending();
    void showShortfall();

    QLabel *title;
    QLabel *addressLabel;
    QLineEdit *address;
    QLabel *interfaceLabel;
    QComboBox *interfaces;
    QTabWidget *tab;
    OrbCoreAudioSelectWidget *sources;
    OrbFileListWidget *files;
    QPushButton *start;
    QPushButton *stop;
    QLabel *status;
    OrbToast *notice;
    QTimer *sendCheck;
    std::unique_ptr<RTPMulticast> multicast;
    RTPFileAudioReader *fileSource = nullptr; // owned by multicast
};
