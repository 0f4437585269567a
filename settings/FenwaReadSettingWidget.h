// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaSettingDialog.h"
#include "FenwaSettingWidget.h"

class QLineEdit;
class QPushButton;

// A page whose fields hold what was read from the terminal: the SIP
// accounts and the RTP channels. Showing a terminal reads it behind a
// progress dialog; "Read" reads it again.
//
// What is written is never what was not read: after a read that failed,
// was refused or was stopped the fields are emptied, the page says so, and
// "Set" and "Set All" write nothing unless the operator has filled every
// field. Ticking rows never changes the current terminal or the fields; a
// click on another cell of a row shows that terminal, except that fields
// the operator edited are kept ("Read" loads the current terminal's
// settings over them). "Set All" writes exactly what the page shows, after
// asking once whose values go to how many terminals. When a batch (this
// page's or any other) changed the current terminal, the page reads it again.
class FenwaReadSettingWidget : public FenwaSettingWidget
{
    Q_OBJECT
public:
    void showDevice(FenwaDevice *device) override;
    bool followsTicks() const override { return false; }
    QList<QLineEdit *> fields() const { return edits; }

public slots:
    void onClickReadButton(bool checked);
    void onClickSetButton(bool checked);
    void onClickSetAllButton(bool checked);

protected:
    FenwaReadSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

    // Registers a field, in order.
    QLineEdit *addField();
    // The read for devices set on it later; it keeps what it reads.
    virtual std::unique_ptr<FenwaSettingDialog> makeRead() = 0;
    // Fills the fields from a read that succeeded.
    virtual void takeRead(FenwaSettingDialog *read) = 0;
    // The write of the fields as they stand, or nullptr with *notice.
    virtual std::unique_ptr<FenwaSettingDialog> makeWrite(QString *notice) = 0;
    // The question "Set All" asks: the fields as read from the terminal
    // named from (empty when they were typed or edited since) to count
    // terminals.
    virtual QString setAllQuestion(const QString &from, int count) const = 0;
    void placeButtons(int y);
    // Reads the terminal again; fields the operator typed and has not
    // written yet are kept, but no longer count as read from it.
    void followTerminal() override;

private:
    QStringList texts() const;
    void read(FenwaDevice *device);
    std::unique_ptr<FenwaSettingDialog> checkedWrite(QString *notice);

    QList<QLineEdit *> edits;
    QPushButton *setButton;
    QPushButton *readButton;
    QPushButton *setAllButton;
    bool fromRead = false; // the fields hold a whole read, maybe edited since
    QString readFrom;      // the name of the terminal read
    QStringList readTexts; // the fields as that read left them
    bool edited = false;
    bool reading = false;
    bool writing = false; // this page's own Set or Set All is under way
};
