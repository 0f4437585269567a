// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaDevice.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// Every rule about terminals that more than one front end needs, in one
// place: which terminals a search keeps, how MAC and IPv4 texts are checked
// and counted up, the value each terminal of a batch gets, and what an
// accepted command writes back into the terminal's record. The workbench's
// pages, its search and fenwa-cli all call these, so they cannot disagree.
//
// Refusals are notices for the operator, already passed through
// translate() (fenwa-cli loads no language and so prints them in English).
// Nothing here talks to a terminal or touches a widget; the write-backs run
// on the thread that owns the records (the interface thread in the
// workbench).
namespace FenwaTerminal {

// ---- what a search keeps ------------------------------------------------

// The models this tool configures, without regard to letter case.
bool isSupportedType(const QString &type);

// MAC texts compare as addresses: hexadecimal digits without regard to case,
// ':' and '-' alike, so "AA-BB-..." sorts beside "aa:bb:...". Texts that are
// not MACs compare as text without regard to case, after every MAC.
int compareMacText(const QString &a, const QString &b);

// Whether two search records are one terminal: the same link MAC and the
// same identity (uid and serial number). A terminal that answers twice, or
// answers a repeated search frame, is one terminal; two terminals that share
// a MAC (a cloned or mistyped address) are two, and both must be seen.
bool sameTerminal(const FenwaDevice *a, const FenwaDevice *b);
// A text that two records share exactly when sameTerminal holds for them:
// a hash key, for matching a thousand terminals of a search at once.
QString terminalKey(const FenwaDevice *device);

// One record per terminal (sameTerminal), in MAC order: a terminal that
// answered twice is listed once, its first answer kept, while two terminals
// are never folded into one row, neither because their MAC texts look alike
// nor because they answer from one MAC. Records not kept are released.
void keepOnePerTerminal(QList<FenwaDevice *> *devices);

// The search's rule: supported models only, then one per terminal, in MAC order.
// Moves the kept records of replies into found and releases the others.
// Returns how many terminals (distinct link MACs) of other models answered.
int keepSupported(QList<FenwaDevice *> *replies, QList<FenwaDevice *> *found);

// What makes a terminal of a search easy to mistake for another: the other
// terminals that answer from its link MAC (commands to it reach them too),
// and those that report its IPv4 address. At most CONFLICTS_NAMED of each
// are named, in table order, and the rest counted: a flood of made-up
// replies from one address would otherwise name every row in every row.
struct Conflicts {
    QList<const FenwaDevice *> sameMac, sameIp;
    int moreMac = 0, moreIp = 0; // beyond those named
    bool isEmpty() const { return sameMac.isEmpty() && sameIp.isEmpty(); }
};
enum { CONFLICTS_NAMED = 8 };
// The conflicts of every record that has any; an empty or all-zero address
// conflicts with nothing.
QHash<const FenwaDevice *, Conflicts> conflictsOf(const QList<FenwaDevice *> &devices);
// How many of them share a MAC, and how many share an address.
void countConflicts(const QHash<const FenwaDevice *, Conflicts> &conflicts, int *sharingMac, int *sharingIp);

// ---- MAC texts --------------------------------------------------------------

// Six hexadecimal pairs separated by ':' or '-'.
bool isMacText(const QString &text);
// Lower case with colons, or empty when text is not a MAC text.
QString normalizeMac(const QString &text);
// Why text cannot be a terminal's MAC (not six pairs; a group, broadcast or
// all-zero address), or empty when it can.
QString macRefusal(const QString &text);

// ---- IPv4 texts ---------------------------------------------------------------

// Four decimal numbers 0 to 255 separated by dots, without leading zeros,
// blanks or anything else.
bool isIpv4Text(const QString &text);

// A static configuration as the IP page and set-ip-static take it.
struct IpConfig {
    QString ip, gateway, netmask, dns1, dns2; // dns2 may be empty
};

// ---- per-device values ----------------------------------------------------
// Each takes what the operator typed and the number of target terminals and
// returns one value per terminal in target order, or nothing with *notice
// set. A batch of one is "Set"; more is "Set All".

// The same name for every terminal.
QStringList nameValues(const QString &typed, int count, QString *notice);

// One terminal gets the MAC as typed; several get it in lower case, counted
// up by one per terminal. Refused when the text or any counted value cannot
// be a terminal's MAC (counting never wraps past ff:ff:ff:ff:ff:ff).
QStringList macValues(const QString &typed, int count, QString *notice);
// The same for the targets, refused when a value is the MAC (link MAC or
// reported MAC text) of a terminal of the table other than the target it
// would go to. A range is refused rather than stepped past such a MAC:
// installers label and plan terminals by a contiguous range, and a MAC
// already on the segment inside it means the range is the wrong one.
QStringList macValues(const QString &typed, const QList<FenwaDevice *> &targets, const QList<FenwaDevice *> &table,
                      QString *notice);

// Something that already holds an IPv4 address on the segment: this PC, a
// terminal of the last search, or whatever answered an address probe.
struct AddressHolder {
    QString ip;
    QString mac; // the holder's link MAC in lower case; empty for this PC
    QString why; // for the operator: "this PC", "in use by Terminal-006 (02:fe:...)"
};
// An address a batch stepped over because something holds it.
struct SkippedAddress {
    QString ip, why;
};

// The name and link MAC by which an operator tells a terminal apart:
// "Terminal-006 (02:fe:00:00:00:06)".
QString terminalLabel(const FenwaDevice *device);
// The link MAC (where commands go) in lower case with colons.
QString linkMacText(const FenwaDevice *device);
// Six bytes of a MAC the same way.
QString linkMacText(const uint8_t mac[6]);
// Six bytes of a MAC as one number, first byte highest: a key for lookups.
quint64 macKey(const uint8_t mac[6]);

// This PC's addresses on the adapter and the address each terminal of the
// table reports (none for an empty or all-zero one).
QList<AddressHolder> addressHolders(const QList<FenwaDevice *> &table, const QStringList &ownAddresses);
// What an address probe heard of ip from the host at mac: an answer to the
// probe, ARP sent from the address (a host that uses it, answering or not),
// or another host's probe for it (a host about to take it).
enum class ArpHeard { Answers, Sends, Probes };
AddressHolder probeAnswer(const QString &ip, const QString &mac, ArpHeard how = ArpHeard::Answers);
// Why ip cannot go to the terminal whose link MAC is mac: the reasons of
// every holder but that terminal itself, joined; empty when it is free.
QString addressRefusal(const QString &ip, const QString &mac, const QList<AddressHolder> &held);

// Checks the five fields (the second DNS may be empty), then hands out
// addresses counted up from the typed one inside the subnet the netmask
// gives: the subnet's network and broadcast addresses and the typed gateway
// and DNS servers are stepped over, and the count wraps to the subnet's
// start. When the terminals do not all fit, nothing is handed out.
QList<IpConfig> staticIpValues(const IpConfig &typed, int count, QString *notice);
// The same for the targets (given by link MAC, in batch order) on a segment
// where held addresses are taken: target i never gets an address held by
// anything but itself. One target ("Set") gets the typed address or a
// refusal naming its holder; several step over held addresses, each listed
// in *skipped with its reason. A target keeps its own address when the
// stepping reaches it, so running the same batch twice changes nothing.
QList<IpConfig> staticIpValues(const IpConfig &typed, const QStringList &targetMacs,
                               const QList<AddressHolder> &held, QList<SkippedAddress> *skipped, QString *notice);

// A command or reply text as it may be logged or shown: the clear password
// of every SIP account (a "password" item below the top of the object)
// becomes "***"; the account password at the top travels as its digest
// already and stays. A text that is not JSON has every password masked.
// The text comes back byte for byte when there is nothing to mask.
QByteArray maskedText(const char *text);

// The MD5 digest of the password's UTF-8 bytes, 32 lower-case hex digits:
// what terminals store and the firmware login sends.
QString passwordDigest(const QString &password);

// The account and the password's digest, the same for every terminal.
struct Account {
    QString account, digest;
};
bool accountValue(const QString &account, const QString &password, Account *out, QString *notice);

// Microphone and speaker volume (0 to 100) and automatic muting (0 or 1).
struct Volume {
    int mic = 0, out = 0, autoMute = 0;
};
bool volumeValue(const Volume &typed, QString *notice);

// Both SIP accounts as typed (texts go out escaped), refused when an account
// would not fit its command, when its server port is not 1 to 65535 (an
// account with a user name or server host needs one; an empty account may
// keep an empty port), when its server host is neither an IPv4 address nor
// a host name (an account with a user name needs one), or when its password
// is "***", the mask of a log line, which would become the password.
bool sipValue(const SipSettings &first, const SipSettings &second, QString *notice);
// Letters, digits and hyphens in dot-separated labels of 1 to 63 characters
// (no hyphen at either end), at most 253 in all; one that is all digits and
// dots must be an IPv4 address.
bool isHostName(const QString &text);

// A channel as the RTP page shows it: "address:port", the address alone
// when the port is 0, empty without an address.
QString rtpChannelText(const RtpSettings &channel);
// A typed channel, enabled whatever it holds: after the last colon that is
// not the first character the port (none after it: 0), before it the
// address; without such a colon the whole text is the address and the port
// 0. Blanks around the text are dropped. False with *why when the address
// is neither empty nor IPv4 or the port is not a number up to 65535: a
// terminal given ":6000" or "239.1.1.1:6OOO" would only refuse it or, worse,
// listen on port 0.
bool rtpChannelFromText(const QString &text, RtpSettings *channel, QString *why);
// Why a channel cannot go to a terminal (not IPv4, port out of range), or
// empty when it can.
QString rtpRefusal(const RtpSettings &channel);
// The typed channels in order, or nothing with *notice naming the first
// channel that cannot be written.
QList<RtpSettings> rtpValues(const QStringList &texts, QString *notice);

// ---- write-backs: what an accepted command changes in the record ------------

void nameAccepted(FenwaDevice *device, const QString &name);
// The MAC text and the link MAC, so that later commands reach the terminal
// at its new address.
void macAccepted(FenwaDevice *device, const QString &mac);
void dhcpAccepted(FenwaDevice *device);
void staticIpAccepted(FenwaDevice *device, const IpConfig &config);
void volumeAccepted(FenwaDevice *device, const Volume &volume);
void accountAccepted(FenwaDevice *device, const Account &account);
// "sipInfo": account@serverHost of the first complete account, else empty.
void sipAccepted(FenwaDevice *device, const SipSettings &first, const SipSettings &second);
// "rtpInfo": address:port of the first channel that is set, else empty.
void rtpAccepted(FenwaDevice *device, const QList<RtpSettings> &channels);
// A later search's record of the same terminal (sameTerminal): what it
// reports now (texts, the address its replies come from, every reply item)
// goes into device; what only this tool knows (the tick, the SIP and RTP
// summaries written after a batch) stays.
void reportedAgain(FenwaDevice *device, const FenwaDevice *fresh);

} // namespace FenwaTerminal
