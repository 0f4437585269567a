// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSettingPages.h"

#include "FenwaAudioSettingWidget.h"
#include "FenwaIpSettingWidget.h"
#include "FenwaNameSettingWidget.h"
#include "FenwaRtpSettingWidget.h"
#include "FenwaSipSettingWidget.h"
#include "FenwaTestSettingWidget.h"
#include "FenwaVersionSettingWidget.h"
#include "table/FenwaDeviceModel.h"

FenwaSettingPages::FenwaSettingPages(QWidget *window, FenwaSDK *sdk, FenwaDeviceModel *model)
    : window(window), sdk(sdk), model(model)
{
}

FenwaSettingPages::Choice FenwaSettingPages::choiceFor(int column)
{
    switch (column) {
    case FenwaDeviceModel::CheckColumn:
        return KeepPage;
    case FenwaDeviceModel::PlayColumn:
        return PlaySound;
    case FenwaDeviceModel::NumberColumn:
    case FenwaDeviceModel::UidColumn:
        return HidePage;
    default:
        return pageOf(column) < 0 ? HidePage : ShowPage;
    }
}

int FenwaSettingPages::pageOf(int column)
{
    switch (column) {
    case FenwaDeviceModel::NameColumn:
        return NamePage;
    case FenwaDeviceModel::MacColumn:
        return MacPage;
    case FenwaDeviceModel::IpColumn:
    case FenwaDeviceModel::NetmaskColumn:
    case FenwaDeviceModel::GatewayColumn:
        return IpPage;
    case FenwaDeviceModel::SipColumn:
        return SipPage;
    case FenwaDeviceModel::RtpColumn:
        return RtpPage;
    case FenwaDeviceModel::VersionColumn:
        return VersionPage;
    case FenwaDeviceModel::VolumeColumn:
        return AudioPage;
    case FenwaDeviceModel::SystemColumn:
        return SystemPage;
    default:
        return -1;
    }
}

FenwaSettingWidget *FenwaSettingPages::pageFor(int column)
{
    const int page = pageOf(column);
    if (page < 0)
        return nullptr;
    if (pages[page] == nullptr) {
        pages[page] = create(page);
        if (pages[page])
            pages[page]->hide();
    }
    return pages[page];
}

FenwaSettingWidget *FenwaSettingPages::create(int page)
{
    switch (page) {
    case NamePage:
        return new FenwaNameSettingWidget(window, sdk, model);
    case MacPage:
        return new FenwaMacSettingWidget(window, sdk, model);
    case IpPage:
        return new FenwaIpSettingWidget(window, sdk, model);
    case AudioPage:
        return new FenwaAudioSettingWidget(window, sdk, model);
    case SystemPage:
        return new FenwaTestSettingWidget(window, sdk, model);
    case SipPage:
        return new FenwaSipSettingWidget(window, sdk, model);
    case RtpPage:
        return new FenwaRtpSettingWidget(window, sdk, model);
    case VersionPage:
        return new FenwaVersionSettingWidget(window, sdk, model);
    default:
        return nullptr;
    }
}
