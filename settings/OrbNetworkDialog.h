// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/widgets/OrbDialog.h"

#include <memory>

class QComboBox;
class QLabel;
class QPushButton;
class QPcapAdapterList;
struct QPcapAdapter;

// Lets the operator pick the adapter the terminals hang on. OK remembers the
// choice under "network" in the configuration; the caller reopens the link.
class OrbNetworkDialog : public OrbDialog
{
    Q_OBJECT
public:
    explicit OrbNetworkDialog(QWidget *parent = nullptr);
    ~OrbNetworkDialog() override;

    // Takes ownership of list (nullptr allowed), fills the box and
    // preselects the remembered or default adapter.
    void setAdapters(QPcapAdapterList *list);
    // The adapter of the current item, owned by the dialog's list; nullptr
    // when there is none.
    const QPcapAdapter *selectedAdapter() const;

    // "<description> <a.b.c.d>", the text of an adapter's item.
    static QString itemText(const QPcapAdapter &adapter);

public slots:
    void onClickOkButton(bool checked);
    void onComoBoxIndexChanged(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *label;
    QComboBox *comboBox;
    QPushButton *okButton;
    std::unique_ptr<QPcapAdapterList> adapters;
};
