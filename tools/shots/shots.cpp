// Pictures of the dialogs for the manual, drawn offscreen from fixed sample
// devices.
//
//   scoutrix-shots OUTDIR LANGUAGE(en|zh)
//
// Run from the build's program folder so the style sheets and skin resolve.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

#include "ActivityLog.h"
#include "AppPaths.h"
#include "CActivityLogDlg.h"
#include "CChangerIPDlg.h"
#include "CDetailsDlg.h"
#include "CIPLineEdit.h"
#include "CMultiLanguage.h"
#include "CPasswordDlg.h"
#include "CToolTips.h"
#include "ResultTexts.h"
#include "ShotSupport.h"

using scoutrix::NetInfo;

namespace {

NetInfo sample(const char *mac, uint8_t last)
{
    NetInfo n {};
    const uint8_t ip[4] = {192, 168, 1, last}, mask[4] = {255, 255, 255, 0}, gw[4] = {192, 168, 1, 1};
    std::memcpy(n.ip, ip, 4);
    std::memcpy(n.mask, mask, 4);
    std::memcpy(n.gateway, gw, 4);
    n.setPortValue(34567);
    scoutrix::setFieldText(n.mac, mac);
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setStyleSheet(AppPaths::lineEditStyleSheet());
    if (argc != 3) {
        std::fprintf(stderr, "usage: scoutrix-shots OUTDIR en|zh\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString lang = QString::fromLatin1(argv[2]);
    QDir().mkpath(out);
    shots::useLanguage(lang);

    bool ok = true;
    NetInfo one = sample("00:1a:2b:3c:4d:5e", 64);
    {
        CChangerIPDlg dialog;
        dialog.setUp(&one, 0, false, 0);
        ok &= shots::save(dialog, out + QStringLiteral("/changeip-single-%1.png").arg(lang));
    }
    NetInfo four[4] = {sample("00:1a:2b:3c:4d:01", 20), sample("00:1a:2b:3c:4d:02", 21),
                       sample("00:1a:2b:3c:4d:03", 22), sample("00:1a:2b:3c:4d:04", 23)};
    {
        CChangerIPDlg dialog;
        dialog.setUp(four, 1, true, 4);
        dialog.ipEdit()->setOctet(254, 3);
        ok &= shots::save(dialog, out + QStringLiteral("/changeip-batch-%1.png").arg(lang));
    }
    {
        scoutrix::DeviceRecord r {};
        r.netInfo = one;
        r.devInfo.setDeviceType(2);
        scoutrix::setFieldText(r.devInfo.model, "SX-IPC-D4");
        scoutrix::setFieldText(r.devInfo.serial, "SXI20250100064");
        CDetailsDlg card(nullptr, r);
        ok &= shots::save(card, out + QStringLiteral("/details-%1.png").arg(lang));
    }
    {
        CToolTips notice(nullptr, QStringLiteral("192.168.1.64"), -10005, ResultTexts::OpModifyIP, 0);
        ok &= shots::save(notice, out + QStringLiteral("/notice-%1.png").arg(lang));
    }
    {
        CPasswordDlg credentials;
        credentials.setCredentials(QStringLiteral("admin"), QStringLiteral("739204"),
                                   CMultiLanguage::text(QStringLiteral("Settings")));
        ok &= shots::save(credentials, out + QStringLiteral("/credentials-%1.png").arg(lang));
    }
    {
        // A private log with the changes of a short morning on site.
        QTemporaryDir logDir;
        ActivityLog log(logDir.path());
        const QDate day = QDate::currentDate();
        struct Sample {
            const char *time, *mac, *serial, *model, *address;
            int operation;
            const char *oldValue, *newValue;
            int result;
        } samples[] = {
            {"09:12:04", "00:1a:2b:3c:4d:01", "SXI20250100020", "SX-IPC-D4", "192.168.0.20", ResultTexts::OpModifyIP,
             "192.168.0.20", "192.168.1.20", 0},
            {"09:12:05", "00:1a:2b:3c:4d:02", "SXI20250100021", "SX-IPC-D4", "192.168.0.21", ResultTexts::OpModifyIP,
             "192.168.0.21", "192.168.1.21", 0},
            {"09:12:05", "00:1a:2b:3c:4d:03", "SXI20250100022", "SX-IPC-B2", "192.168.0.64", ResultTexts::OpModifyIP,
             "192.168.0.64", "", -4},
            {"09:20:31", "00:1a:2b:3c:4d:10", "SXN20250100007", "SX-NVR-16", "192.168.1.30", ResultTexts::OpEncode,
             "ch2 main 1920x1080 25fps 4096kbps", "ch2 main 1280x720 25fps 2048kbps", 0},
            {"09:24:12", "00:1a:2b:3c:4d:11", "SXN20250100008", "SX-NVR-16", "192.168.1.31", ResultTexts::OpEncode,
             "ch1 main 2048kbps", "ch1 main 8192kbps", -1},
        };
        for (const Sample &x : samples) {
            ActivityEntry e;
            e.time = QDateTime(day, QTime::fromString(QString::fromLatin1(x.time), QStringLiteral("HH:mm:ss")));
            e.mac = QString::fromLatin1(x.mac);
            e.serial = QString::fromLatin1(x.serial);
            e.model = QString::fromLatin1(x.model);
            e.address = QString::fromLatin1(x.address);
            e.operation = x.operation;
            e.oldValue = QString::fromLatin1(x.oldValue);
            e.newValue = QString::fromLatin1(x.newValue);
            e.result = x.result;
            log.append(e);
        }
        CActivityLogDlg dialog(nullptr, &log);
        dialog.resize(1120, 360);
        ok &= shots::save(dialog, out + QStringLiteral("/activity-log-%1.png").arg(lang));
    }
    return ok ? 0 : 1;
}
