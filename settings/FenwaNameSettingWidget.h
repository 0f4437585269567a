// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The name page and the MAC page: twins of one text field, and their batch
// dialogs, which the main window also runs for an in-cell edit.
#include "FenwaSettingDialog.h"
#include "FenwaSettingWidget.h"

class QLineEdit;

// One line edit with its prompt, "Set" and "Set All".
class FenwaTextSettingWidget : public FenwaSettingWidget
{
    Q_OBJECT
public:
    FenwaTextSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model, const QString &prompt);

    void showDevice(FenwaDevice *device) override;
    QLineEdit *lineEdit() const { return edit; }

public slots:
    void onClickSetButton(bool checked);
    void onClickSetAllButton(bool checked);

protected:
    // The record's text the field shows, and the batch for the typed text.
    virtual QString fieldOf(const FenwaDevice *device) const = 0;
    virtual std::unique_ptr<FenwaSettingDialog> makeBatch(const QList<FenwaDevice *> &devices, const QString &typed,
                                                          QString *notice) = 0;
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *promptLabel;
    QLineEdit *edit;
    QPushButton *setButton;
    QPushButton *setAllButton;
};

class FenwaNameSettingWidget : public FenwaTextSettingWidget
{
    Q_OBJECT
public:
    FenwaNameSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

protected:
    QString fieldOf(const FenwaDevice *device) const override;
    std::unique_ptr<FenwaSettingDialog> makeBatch(const QList<FenwaDevice *> &devices, const QString &typed,
                                                  QString *notice) override;
};

class FenwaMacSettingWidget : public FenwaTextSettingWidget
{
    Q_OBJECT
public:
    FenwaMacSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

protected:
    QString fieldOf(const FenwaDevice *device) const override;
    std::unique_ptr<FenwaSettingDialog> makeBatch(const QList<FenwaDevice *> &devices, const QString &typed,
                                                  QString *notice) override;
};

// One text per terminal through a one-text command, and the write-back of
// an accepted one: what the name and MAC batches have in common.
class FenwaTextSettingDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    using Command = int (FenwaSDK::*)(FenwaDevice *, const QString &);
    using WriteBack = void (*)(FenwaDevice *, const QString &);
    FenwaTextSettingDialog(QWidget *parent, FenwaSDK *sdk, const QString &title, Command command,
                           WriteBack writeBack);
    void setTexts(const QStringList &texts) { this->texts = texts; }

protected:
    int sendTo(int i, QString *detail) override;
    void acceptedBy(int i) override;

private:
    const Command command;
    const WriteBack writeBack;
    QStringList texts;
};

// SetName per terminal; an accepted name goes into the record.
class FenwaNameSettingDialog : public FenwaTextSettingDialog
{
    Q_OBJECT
public:
    FenwaNameSettingDialog(QWidget *parent, FenwaSDK *sdk);
    // The batch for count terminals from the typed name, or nullptr with
    // *notice set.
    static std::unique_ptr<FenwaSettingDialog> make(QWidget *parent, FenwaSDK *sdk, const QString &typed, int count,
                                                    QString *notice);
};

// SetMac per terminal; an accepted MAC becomes the record's MAC text and the
// address later commands go to.
class FenwaMacSettingDialog : public FenwaTextSettingDialog
{
    Q_OBJECT
public:
    FenwaMacSettingDialog(QWidget *parent, FenwaSDK *sdk);
    // The batch for the targets, or nullptr with *notice set, also when a
    // value is the MAC of another terminal of the table.
    static std::unique_ptr<FenwaSettingDialog> make(QWidget *parent, FenwaSDK *sdk, const QString &typed,
                                                    const QList<FenwaDevice *> &targets,
                                                    const QList<FenwaDevice *> &table, QString *notice);
};
