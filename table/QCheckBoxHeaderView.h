// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHeaderView>

class QCheckBox;

// Horizontal header of the device table with the select-all box centred in
// section 0. The box keeps its own state: it is not updated when rows are
// checked one by one or the table is refilled.
class QCheckBoxHeaderView : public QHeaderView
{
    Q_OBJECT
public:
    explicit QCheckBoxHeaderView(QWidget *parent = nullptr);

    QCheckBox *checkBox() const { return box; }

public slots:
    void onSectionResized(int logicalIndex, int oldSize, int newSize);

protected:
    void updateGeometries() override;

private:
    QCheckBox *box;
};
