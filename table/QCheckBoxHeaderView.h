// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHeaderView>

class QCheckBox;

// Horizontal header of the device table with the select-all box centred in
// section 0, scrolling sideways with it. The box keeps its own state: rows
// checked one by one do not change it; the model unticks it when the table is
// refilled or emptied.
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
