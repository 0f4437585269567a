#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Plant one fault at a time in a worktree with a release build, rebuild, run
# every test, record whether anything failed, and put the file back.
#   scripts/plant-faults.py TREE [NAME...]
# TREE is a checkout with a release build in build/ (scripts/build.sh
# release); the end-to-end tests need root. Each fault is a small edit a
# developer could make by mistake; a fault no test catches is a test to write.
# Run it alone: a build beside it (a fuzz run's, say) may compile a planted
# file and leave the object in ccache under the name of the good one.
# docs/test-faults.md has the last figures.
import subprocess, sys, time
root = sys.argv[1]
only = sys.argv[2:]
F = [
 ("reply-timeout", "link/FenwaSDK.h", "REPLY_TIMEOUT_MS = 3000", "REPLY_TIMEOUT_MS = 1000"),
 ("rtp-ttl", "OrbUtils/OrbRtpSession.h", "MulticastTtl = 255", "MulticastTtl = 1"),
 ("key-network", "OrbUtils/OrbConfigure.cpp", 'kNetwork[] = "network"', 'kNetwork[] = "netwrk"'),
 ("key-source-index", "OrbUtils/OrbConfigure.cpp", '"rtp source index"', '"rtp source idx"'),
 ("csv-quote", "site/FenwaCsv.cpp", "!utf8.contains('\"') && ", ""),
 ("mac-order-text", "link/FenwaTerminal.cpp", "return compareMacText(a->macText, b->macText) < 0;", "return a->macText < b->macText;"),
 ("type-case", "link/FenwaTerminal.cpp", 'QLatin1String("VQT40"), Qt::CaseInsensitive', 'QLatin1String("VQT40"), Qt::CaseSensitive'),
 ("ip-broadcast", "link/FenwaTerminal.cpp", "if (edges && (a == network || a == quint32(network + size - 1)))\n            return false;", "if (edges && a == network)\n            return false;"),
 ("mac-group", "link/FenwaTerminal.cpp", "if ((v >> 40) & 1)", "if (false)"),
 ("reply-from", "link/FenwaSDK.cpp", "(from == nullptr || sameMac(reply->mac, from)", "(true || sameMac(reply->mac, from)"),
 ("md5-case", "link/FenwaTerminal.cpp", "Md5).toHex()", "Md5).toHex().toUpper()"),
 ("header-offset", "link/QPcapFrame.cpp", "putBigEndian16(header + 16, static_cast<uint16_t>(total));", "putBigEndian16(header + 14, static_cast<uint16_t>(total));"),
 ("rfc2250-offset", "OrbUtils/rtp/MpegAudioFrame.cpp", "out[2] = uint8_t(offset >> 8);", "out[2] = 0;"),
 ("json-backslash", "link/FenwaJson.cpp", "        case '\\\\': out += \"\\\\\\\\\"; break;\n", ""),
 ("batch-ticks", "settings/FenwaSettingDialog.cpp", "r.device->checked = !r.accepted;", "r.device->checked = false;"),
 ("cli-time", "tools/fenwa-cli/CliOptions.h", "int searchMs = 2000;", "int searchMs = 1000;"),
 ("arp-opcode", "link/QPcapFrame.cpp", "putBigEndian16(f + 20, 1); // request", "putBigEndian16(f + 20, 2); // request"),
 ("read-keeps-fields", "settings/FenwaReadSettingWidget.cpp", "    for (QLineEdit *e : edits)\n        e->clear();\n    showToast(", "    showToast("),
 ("batch-chain", "link/FenwaBatch.cpp", "\n            && (e.after < 0 || entries[e.after].result.accepted()))", ")"),
 ("batch-no-resend", "link/FenwaBatch.cpp", "if (resends && now - f.lastSent", "if (false && now - f.lastSent"),
 ("plan-same-ip", "site/FenwaPlanRun.cpp", "if (!ip.isEmpty() && finalIp(other) == ip)", "if (false && finalIp(other) == ip)"),
 ("plan-mac-first", "site/FenwaPlanRun.cpp", "Step::SetRtp,    Step::SetIp,      Step::SetMac}", "Step::SetMac,    Step::SetRtp,     Step::SetIp}"),
 ("helper-arp-sender", "tools/fenwa-capture/capture-messages.c", "&& memcmp(f + 22, interface->mac, 6) == 0 && isInterfaceAddress(f + 28, interface)", "&& memcmp(f + 22, interface->mac, 6) == 0"),
 ("http-body-cap", "OrbUtils/OrbHttpUtils.cpp", "if (t->body.size() + qint64(n) > OrbHttpUtils::kBodyMax)", "if (false)"),
 ("address-held", "link/FenwaTerminal.cpp", "if ((h->mac.isEmpty() || h->mac != mac) && !why.contains(h->why))", "if ((h->mac.isEmpty() || h->mac == mac) && !why.contains(h->why))"),
 ("configure-typed", "OrbUtils/OrbConfigure.cpp", "if (!s.startsWith(QLatin1String(\"@String(\")) || !s.endsWith(QLatin1Char(')')))", "if (false)"),
 ("cn-placeholder", "resources/language/cn.txt", '="%2 台终端中有 %1 台已接受"', '="%2 台终端中有 %2 台已接受"'),
]
results = []
for name, path, old, new in F:
    if only and name not in only: continue
    p = f"{root}/{path}"
    orig = open(p, encoding="utf-8").read()
    if orig.count(old) != 1:
        print(f"{name}: pattern found {orig.count(old)} times, skipped", flush=True); continue
    open(p, "w", encoding="utf-8").write(orig.replace(old, new))
    try:
        t = time.time()
        b = subprocess.run(["cmake", "--build", "build", "-j2"], cwd=root, capture_output=True, text=True)
        if b.returncode != 0:
            res = "build failed"
        else:
            r = subprocess.run(["ctest", "--test-dir", "build", "-j2", "--timeout", "240"], cwd=root, capture_output=True, text=True)
            tail = r.stdout.split("The following tests FAILED:")[-1] if r.returncode else ""
            failed = [l.split(" - ", 1)[1].split(" (")[0].split("  #")[0] for l in tail.splitlines() if " - " in l]
            res = "caught" if r.returncode != 0 else "SURVIVED"
            if failed: res += " by " + "; ".join(sorted(set(failed))[:4]) + ("; ..." if len(set(failed)) > 4 else "")
        print(f"{name}: {res} ({int(time.time()-t)} s)", flush=True)
        results.append((name, res))
    finally:
        open(p, "w", encoding="utf-8").write(orig)
subprocess.run(["cmake", "--build", "build", "-j2"], cwd=root, capture_output=True)
print("caught %d of %d" % (sum(r.startswith("caught") for _, r in results), len(results)))
