// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class FenwaDeviceModel;
class FenwaSDK;
class FenwaSettingWidget;
class QWidget;

// Which settings page a click on a table column brings up, and the pages
// themselves: one instance per page class, made on first use as a child of
// the main window and kept (hidden when not in the panel) for the window's
// life. The three IP columns share one page.
class FenwaSettingPages
{
public:
    enum Choice {
        KeepPage,  // the check box column: the shown page stays
        HidePage,  // "No." and "UID": the panel empties
        PlaySound, // the play icon: the test sound, the panel unchanged
        ShowPage,  // a settings column
    };
    static Choice choiceFor(int column);

    FenwaSettingPages(QWidget *window, FenwaSDK *sdk, FenwaDeviceModel *model);
    // The page of a settings column, made on first use; nullptr for a column
    // without a page.
    FenwaSettingWidget *pageFor(int column);

private:
    enum Page { NamePage, MacPage, IpPage, SipPage, RtpPage, VersionPage, AudioPage, SystemPage, PageCount };
    static int pageOf(int column);
    FenwaSettingWidget *create(int page);

    QWidget *window;
    FenwaSDK *sdk;
    FenwaDeviceModel *model;
    FenwaSettingWidget *pages[PageCount] = {};
};
