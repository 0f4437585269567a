// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTableView>

// A table view that copies the selected cells with Ctrl+C as tab-separated
// lines, so that installers can paste the device list into a spreadsheet.
class OrbTableView : public QTableView
{
    Q_OBJECT
public:
    explicit OrbTableView(QWidget *parent = nullptr);

    // The text Ctrl+C puts on the clipboard for the current selection.
    QString selectionText() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
