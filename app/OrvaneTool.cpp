#include "OrvaneTool.h"
#include "ui_OrvaneTool.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QHostInfo>
#include <QMenu>
#include <QMessageBox>
#include <QMovie>
#include <QNetworkInterface>
#include <QProcess>
#include <QUrl>

#include <limits>

#include "ActivityLog.h"
#include "AppPaths.h"
#include "CActivityLogDlg.h"
#include "CPasswordDlg.h"
#include "CConfigSetWidget.h"
#include "CIPSearch.h"
#include "CMultiLanguage.h"
#include "CSystemCFGWidget.h"
#include "CUpgradeWidget.h"
#include "NetSdk.h"
#include "Prompt.h"
#include "ResultTexts.h"
#include "TableRules.h"

using scoutrix::DevInfo;
using scoutrix::NetInfo;

namespace {

const char *const kDefaultUser = "admin";
const char *const kDefaultPassword = "739204";
constexpr int kSearchTimeoutMs = 5000;
// A planned move whose call never ran (the window closed first).
constexpr int kNotSent = std::numeric_limits<int>::min();

QList<QHostAddress> ipv4Only(const QList<QHostAddress> &addresses, bool keepLoopback)
{
    QList<QHostAddress> out;
    for (const QHostAddress &a : addresses) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && (keepLoopback || !a.isLoopback()))
            out.append(a);
    }
    return out;
}

// The PC's addresses: an explicit list (demos and scripted set-ups), else the
// host-name look-up, else the interfaces. A Debian host name resolves to
// 127.0.1.1, which is no segment a device could be moved into, so loopback
// answers of the look-up are dropped.
QList<QHostAddress> systemLocalAddresses(bool *ok)
{
    const QByteArray fixed = qgetenv("SCOUTRIX_LOCAL_ADDRESSES");
    if (!fixed.isEmpty()) {
        QList<QHostAddress> out;
        for (const QByteArray &part : fixed.split(',')) {
            QHostAddress a(QString::fromLatin1(part.trimmed()));
            if (!a.isNull())
                out.append(a);
        }
        *ok = !out.isEmpty();
        return out;
    }
    const QHostInfo info = QHostInfo::fromName(QHostInfo::localHostName());
    QList<QHostAddress> out;
    if (info.error() != QHostInfo::NoError)
        qDebug() << "Lookup failed:" << info.errorString();
    else
        out = ipv4Only(info.addresses(), false);
    if (out.isEmpty())
        out = ipv4Only(QNetworkInterface::allAddresses(), false);
    *ok = !out.isEmpty();
    return out;
}

} // namespace

OrvaneTool::Environment OrvaneTool::defaultEnvironment()
{
    Environment env;
    env.localAddresses = systemLocalAddresses;
    env.openUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    env.restart = [] {
        QCoreApplication::quit();
        QProcess::startDetached(QCoreApplication::applicationFilePath(), QStringList());
    };
    env.quit = [] { QCoreApplication::exit(0); };
    return env;
}

OrvaneTool::OrvaneTool(QWidget *parent, Environment env)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::OrvaneToolClass>())
    , m_env(std::move(env))
{
    m_ui->setupUi(this);
    setObjectName(QStringLiteral("OrvaneToolClass"));
    // The language file is found relative to the program's directory, so it
    // becomes current before the language is read.
    AppPaths::enterProgramDir();
    m_chinese = CMultiLanguage::isChinese();
    setWindowFlags(Qt::FramelessWindowHint);
    m_user = QString::fromLatin1(kDefaultUser);
    m_password = QString::fromLatin1(kDefaultPassword);
    // An ONVIF camera wants a login even to change its address; the SDK
    // uses the default login for a camera it has no session with yet.
    NetSdk_SetDefaultCredentials(kDefaultUser, kDefaultPassword);
    makeTitlePictures();
    setStyleSheet(AppPaths::readStyleSheet(
        m_chinese ? QStringLiteral("Mainsheet.qss") : QStringLiteral("MainsheetEn.qss")));

    m_movie = new QMovie(QStringLiteral("Skin/update_p.gif"), QByteArray(), this);
    showSearchIdle();
    m_ui->m_Search->setToolTip(CMultiLanguage::text(QStringLiteral("Search")));
    m_ui->btnSearchSet->setToolTip(CMultiLanguage::text(QStringLiteral("Settings")));
    m_ui->m_Devlabel->setText(CMultiLanguage::text(QStringLiteral("devices were found")));
    QFont devFont(QStringLiteral("Microsoft YaHei"));
    devFont.setPointSize(16);
    devFont.setWeight(25);
    m_ui->m_Devlabel->setFont(devFont);
    m_ui->m_DevNum->setStyleSheet(QStringLiteral("font: 28pt \"Calibri\";"));

    const struct {
        QToolButton *button;
        const char *key;
    } pageButtons[] = {
        {m_ui->m_ModifyIPs, LANG_KEY("ModifyIP")},
        {m_ui->m_DevCfg, LANG_KEY("DevConfig")},
        {m_ui->m_System, LANG_KEY("SystemConfig")},
        {m_ui->m_Upgrade, LANG_KEY("Upgrade")},
    };
    for (const auto &pb : pageButtons) {
        const QString text = CMultiLanguage::text(QString::fromLatin1(pb.key));
        pb.button->setToolTip(text);
        pb.button->setText(text);
    }

    OnModifyIPs();
    m_ui->m_max->hide();

    connect(m_ui->m_Search, &ToolLab::clicked, this, &OrvaneTool::SearchDev);
    connect(m_ui->m_close, &QPushButton::clicked, this, &OrvaneTool::OnClose);
    connect(m_ui->m_minimize, &QPushButton::clicked, this, &OrvaneTool::OnMinimize);
    connect(m_ui->m_max, &QPushButton::clicked, this, &OrvaneTool::OnMaxmize);
    connect(m_ui->m_ModifyIPs, &QToolButton::clicked, this, &OrvaneTool::OnModifyIPs);
    connect(m_ui->m_DevCfg, &QToolButton::clicked, this, &OrvaneTool::OnDevCfg);
    connect(m_ui->m_System, &QToolButton::clicked, this, &OrvaneTool::OnSystem);
    connect(m_ui->m_Upgrade, &QToolButton::clicked, this, &OrvaneTool::OnUpgrade);
    connect(m_ui->btnSearchSet, &QPushButton::clicked, this, &OrvaneTool::slot_SetPassword);
    connect(m_ui->m_menu, &QPushButton::clicked, this, &OrvaneTool::slot_OPenMenu);
    // The worker emits from its own thread; the window presents on the GUI thread.
    connect(this, &OrvaneTool::searchEnd, this, &OrvaneTool::slot_searchShow, Qt::QueuedConnection);
    connect(&m_mover, &SegmentMover::progress, this, &OrvaneTool::segmentMoveProgress, Qt::QueuedConnection);
    connect(&m_mover, &SegmentMover::moved, this, &OrvaneTool::segmentMoveResult, Qt::QueuedConnection);
    connect(&m_mover, &SegmentMover::done, this, &OrvaneTool::finishSegmentMove, Qt::QueuedConnection);

    if (m_env.startSearch)
        SearchDev();
}

OrvaneTool::~OrvaneTool()
{
    // The worker writes into m_list: wait for it before anything goes away.
    m_thread.wait();
    m_mover.cancel();
    m_mover.wait();
}

void OrvaneTool::makeTitlePictures()
{
    const struct {
        QSize size;
        QPoint pos;
        const char *picture;
    } pictures[] = {
        {QSize(130, 68), QPoint(18, 18), "logo.png"},
        {QSize(242, 40), QPoint(154, 40), "scoutrix.png"},
        {QSize(242, 40), QPoint(760, 32), "scoutrix2.png"},
    };
    for (const auto &p : pictures) {
        auto *label = new QLabel(this);
        label->setFixedSize(p.size);
        label->move(p.pos);
        label->setStyleSheet(QStringLiteral("background-color:#0087A9;border:none;background-image:url(Skin/%1);"
                                            "background-repeat:no-repeat;")
                                 .arg(QLatin1String(p.picture)));
        // Clicks and drags fall through to the title band.
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->raise();
    }
}

int OrvaneTool::currentPage() const { return m_ui->stackedWidget->currentIndex(); }

void OrvaneTool::slot_ModifyIPFlag() { m_modified = 1; }

void OrvaneTool::showSearchIdle()
{
    m_movie->stop();
    // A stopped movie keeps its last frame, a partial arc that reads as a
    // search still running; at rest the button shows the plain ring.
    m_ui->m_Search->setPixmap(QPixmap(QStringLiteral("Skin/search_idle.png")));
}

void OrvaneTool::showSearchBusy()
{
    m_ui->m_Search->setMovie(m_movie);
    m_movie->stop();
    m_movie->start();
    // The last count is stale while the devices answer again.
    m_ui->m_DevNum->clear();
    m_ui->m_Devlabel->setText(CMultiLanguage::text(QStringLiteral("Searching...")));
}

void OrvaneTool::SearchDev()
{
    if (m_closed || m_closePending)
        return;
    // A search now would replace the records the move is reporting on: it
    // runs once the last outcome is in.
    if (m_moving) {
        m_searchAfterMove = true;
        return;
    }
    showSearchBusy();
    if (!m_thread.isRunning()) {
        // From here the worker owns the list; logins started earlier are stale.
        m_list.beginSearch();
        if (m_configPage)
            m_configPage->listRebuildStarted(m_list.generation());
        if (m_systemPage)
            m_systemPage->listRebuildStarted();
        if (m_upgradePage)
            m_upgradePage->listRebuildStarted();
        m_thread.setRoutine(&OrvaneTool::searchRoutine, this);
        m_thread.start(QThread::InheritPriority);
    }
    m_modified = 0;
}

int OrvaneTool::searchRoutine(void *context)
{
    static_cast<OrvaneTool *>(context)->runSearch();
    return 0;
}

void OrvaneTool::runSearch()
{
    // Only the list, the SDK and two queued calls are touched from here.
    m_list.clear();
    int32_t bytes = 0;
    const uint8_t ok = NetSdk_SearchDevice(m_list.searchBuffer(), scoutrix::SearchBufferSize,
                                           &bytes, kSearchTimeoutMs, 0);
    m_list.build(ok != 0, bytes, std::string(), std::string());
    m_list.releaseOrphanedSessions([](int32_t handle) { NetSdk_Logout(handle); });
    emit searchEnd();
}

bool OrvaneTool::localSegment(const QList<QHostAddress> &addresses, uint8_t segment[3])
{
    bool found = false;
    for (const QHostAddress &address : addresses) {
        const QString text = address.toString();
        if (!text.contains(QLatin1Char('.')))
            continue;
        const QStringList parts = text.split(QLatin1Char('.'));
        if (parts.size() < 3)
            continue;
        for (int i = 0; i < 3; ++i)
            segment[i] = uint8_t(parts.at(i).toUInt());
        found = true;
    }
    return found;
}

void OrvaneTool::slot_searchShow()
{
    if (m_thread.isRunning())
        m_thread.wait(); // searchEnd() is the routine's last step; this returns at once
    if (m_closed)
        return; // a late delivery: no page comes back, nothing is asked
    if (m_closePending) {
        OnClose();
        return;
    }
    // Credentials are applied here, on the GUI thread, so a change made while
    // the worker ran is not lost.
    m_list.setCredentials(m_user.toLatin1().toStdString(), m_password.toLatin1().toStdString());
    showSearchIdle();
    m_ui->m_DevNum->setText(QString::number(m_list.count()));
    m_ui->m_Devlabel->setText(CMultiLanguage::text(QStringLiteral("devices were found")));
    // The table fills before the segment question, so the installer sees
    // which devices it is about; it fills again with the moved addresses.
    if (m_tablePage)
        m_tablePage->setDevices(m_list.netArray(), m_list.devArray(), m_list.rawCount());
    // The move changes only the network array; the device records keep the
    // addresses found, so the pages can have them now.
    ensurePages();
    handOutDeviceList();
    offerSegmentMove();
}

void OrvaneTool::offerSegmentMove()
{
    bool ok = false;
    const QList<QHostAddress> addresses = m_env.localAddresses ? m_env.localAddresses(&ok)
                                                               : QList<QHostAddress>();
    uint8_t segment[3] = {0, 0, 0};
    // Without a known segment of our own there is nothing to move devices into.
    if (!ok || !localSegment(addresses, segment))
        return;
    std::vector<AddressPlan::Octets> pc;
    for (const QHostAddress &a : addresses) {
        bool v4 = false;
        const quint32 value = a.toIPv4Address(&v4);
        if (v4)
            pc.push_back(AddressPlan::fromValue(value));
    }

    auto plan = std::make_unique<SegmentMovePlan>(m_list.netArray(), m_list.rawCount(), segment, pc);
    if (plan->foreignCount() == 0)
        return;
    // With nothing that could move there is nothing to ask; the marks alone
    // tell the installer why those devices stay outside.
    m_moveAgreed = plan->moveCount() > 0;
    if (m_moveAgreed) {
        const auto answer = Prompt::question(this, CMultiLanguage::text(QStringLiteral("tips")),
                                             segmentMoveQuestion(*plan), QMessageBox::Yes | QMessageBox::No,
                                             QMessageBox::NoButton);
        if (answer != QMessageBox::Yes)
            return;
    }

    const NetInfo *net = m_list.netArray();
    m_moveFound.assign(net, net + m_list.rawCount());
    m_moveResults.assign(m_moveFound.size(), kNotSent);
    std::vector<SegmentMover::Job> jobs;
    for (int i = 0; i < int(m_moveFound.size()); ++i) {
        const SegmentMovePlan::Step &step = plan->step(i);
        if (step.action == SegmentMovePlan::Action::Move)
            jobs.push_back({i, SegmentMovePlan::movedRecord(m_moveFound[size_t(i)], step)});
    }
    m_movePlan = std::move(plan);
    m_moving = true;
    updateBusyState();
    if (jobs.empty() || !m_mover.startJobs(std::move(jobs)))
        finishSegmentMove();
}

QString OrvaneTool::segmentMoveQuestion(const SegmentMovePlan &plan) const
{
    const QString segment = QString::fromStdString(plan.segmentText());
    QString counts = plan.inUseCount() > 0
        ? CMultiLanguage::text(QStringLiteral("SegmentMoveCounts"))
              .arg(plan.moveCount())
              .arg(segment)
              .arg(plan.inUseCount())
        : CMultiLanguage::text(QStringLiteral("SegmentMoveAll")).arg(plan.moveCount()).arg(segment);
    if (plan.notHostCount() > 0)
        counts += QLatin1Char(' ')
            + CMultiLanguage::text(QStringLiteral("SegmentMoveNotHost")).arg(plan.notHostCount());
    return CMultiLanguage::text(QStringLiteral(
               "Please confirm whether it is changed to the same network segment. Different "
               "network segments cannot enter the relevant setting functions."))
        + QLatin1Char('\n') + counts;
}

QString OrvaneTool::skipDetail(const SegmentMovePlan::Step &step) const
{
    const QString to = QString::fromStdString(AddressPlan::text(step.to));
    const QString holder = step.holder >= 0 && step.holder < int(m_moveFound.size())
        ? QString::fromStdString(m_moveFound[size_t(step.holder)].macText())
        : QString();
    switch (step.action) {
    case SegmentMovePlan::Action::InUseByDevice:
        return CMultiLanguage::text(QStringLiteral("AddressHeldByDevice")).arg(to, holder);
    case SegmentMovePlan::Action::InUseByMove:
        return CMultiLanguage::text(QStringLiteral("AddressHeldByMove")).arg(to, holder);
    case SegmentMovePlan::Action::InUseByPc:
        return CMultiLanguage::text(QStringLiteral("AddressHeldByPc")).arg(to);
    case SegmentMovePlan::Action::NotHostAddress:
        return CMultiLanguage::text(QStringLiteral("AddressNotHost")).arg(to);
    default:
        return QString();
    }
}

void OrvaneTool::segmentMoveProgress(int number, int total)
{
    m_ui->m_Devlabel->setText(CMultiLanguage::text(QStringLiteral("MovingDeviceOf")).arg(number).arg(total));
}

void OrvaneTool::segmentMoveResult(int index, int result)
{
    if (index >= 0 && index < int(m_moveResults.size()))
        m_moveResults[size_t(index)] = result;
}

void OrvaneTool::finishSegmentMove()
{
    if (!m_moving || !m_movePlan)
        return;
    m_moving = false;
    m_ui->m_Devlabel->setText(CMultiLanguage::text(QStringLiteral("devices were found")));

    // Outcomes by MAC text: the table marks each device, whatever its row.
    struct Mark
    {
        QString mac;
        int code;
        QString detail;
    };
    QVector<Mark> marks;
    NetInfo *net = m_list.netArray();
    const DevInfo *dev = m_list.devArray();
    for (int i = 0; i < int(m_moveFound.size()); ++i) {
        const SegmentMovePlan::Step &step = m_movePlan->step(i);
        const NetInfo &found = m_moveFound[size_t(i)];
        const QString mac = QString::fromStdString(found.macText());
        const NetInfo planned = SegmentMovePlan::movedRecord(found, step);
        if (step.action == SegmentMovePlan::Action::Move) {
            const int result = m_moveResults[size_t(i)];
            if (result == kNotSent)
                continue;
            ActivityLog::instance().append(TableRules::addressChangeEntry(found, planned, dev[i], result));
            if (result == 0) {
                std::memcpy(net[i].ip, planned.ip, 4);
                std::memcpy(net[i].gateway, planned.gateway, 4);
                // The device records still hold the old addresses: the next
                // page switch searches again, as after an IP change.
                m_modified = 1;
            }
            marks.append({mac, result == 0 ? 1 : (result < 0 ? result : int(ResultTexts::CodeFailed)), QString()});
        } else if (step.isSkip()) {
            const int code = step.action == SegmentMovePlan::Action::NotHostAddress
                ? ResultTexts::CodeNotHostAddress
                : ResultTexts::CodeAddressInUse;
            if (m_moveAgreed)
                ActivityLog::instance().append(TableRules::addressChangeEntry(found, planned, dev[i], code));
            marks.append({mac, code, skipDetail(step)});
        }
    }
    m_movePlan.reset();
    updateBusyState();
    if (m_closePending) {
        OnClose();
        return;
    }
    if (m_tablePage) {
        m_tablePage->setDevices(m_list.netArray(), m_list.devArray(), m_list.rawCount());
        for (const Mark &m : marks)
            m_tablePage->setOutcome(m.mac, m.code, m.detail);
    }
    if (m_searchAfterMove) {
        m_searchAfterMove = false;
        SearchDev();
    }
}

void OrvaneTool::updateBusyState()
{
    // While a move is sent, the table's devices are in flight: no address
    // change, search or page switch until every outcome is in.
    if (m_tablePage)
        m_tablePage->setEnabled(!m_moving && !m_closePending);
}

void OrvaneTool::ensurePages()
{
    if (!m_configPage) {
        m_configPage = new CConfigSetWidget(this);
        m_ui->DevCfgLayout->addWidget(m_configPage);
    }
    if (!m_systemPage)
        makeSystemPage();
    if (!m_upgradePage)
        makeUpgradePage();
}

void OrvaneTool::makeSystemPage()
{
    m_systemPage = new CSystemCFGWidget(this);
    m_ui->SystemLayout->addWidget(m_systemPage);
    // Queued: the close it may finish deletes the page, which must not happen
    // inside the page's own slot.
    connect(m_systemPage, &CSystemCFGWidget::sig_BatchRunning, this, [this](bool running) {
        if (!running && m_closePending && !m_closed)
            OnClose();
    }, Qt::QueuedConnection);
}

void OrvaneTool::makeUpgradePage()
{
    m_upgradePage = new CUpgradeWidget(this);
    m_ui->UpgradeLayout->addWidget(m_upgradePage);
    connect(m_upgradePage, &CUpgradeWidget::sig_UpgradeFlag, this, &OrvaneTool::slot_UpgradeFlag);
}

void OrvaneTool::handOutDeviceList()
{
    // While the worker rewrites the list the pages wait for searchEnd().
    if (m_thread.isRunning())
        return;
    if (m_configPage)
        m_configPage->setDeviceList(m_list.devices(), m_list.count());
    if (m_systemPage)
        m_systemPage->setDeviceList(m_list.devices(), m_list.count());
    if (m_upgradePage)
        m_upgradePage->setDeviceList(m_list.devices(), m_list.count());
}

bool OrvaneTool::switchPage(Page page)
{
    if (m_upgradeBusy || m_moving || m_closed)
        return false;
    if (page != TablePage && m_modified)
        SearchDev();
    m_ui->stackedWidget->setCurrentIndex(page);
    const bool listReady = !m_thread.isRunning();
    switch (page) {
    case TablePage:
        if (!m_tablePage) {
            m_tablePage = new CIPSearch(this);
            m_ui->IPLayout->addWidget(m_tablePage);
        }
        connect(m_tablePage, &CIPSearch::sig_ModifyIP, this, &OrvaneTool::slot_ModifyIPFlag,
                Qt::UniqueConnection);
        break;
    case ConfigPage:
        if (!m_configPage) {
            m_configPage = new CConfigSetWidget(this);
            m_ui->DevCfgLayout->addWidget(m_configPage);
        }
        m_configPage->resetToFirstView();
        if (listReady)
            m_configPage->setDeviceList(m_list.devices(), m_list.count());
        break;
    case SystemPage:
        if (!m_systemPage)
            makeSystemPage();
        if (listReady)
            m_systemPage->setDeviceList(m_list.devices(), m_list.count());
        break;
    case UpgradePage:
        if (!m_upgradePage)
            makeUpgradePage();
        if (listReady)
            m_upgradePage->setDeviceList(m_list.devices(), m_list.count());
        break;
    }
    updatePageButtons();
    return true;
}

void OrvaneTool::updatePageButtons()
{
    const int current = m_ui->stackedWidget->currentIndex();
    QToolButton *buttons[] = {m_ui->m_ModifyIPs, m_ui->m_DevCfg, m_ui->m_System, m_ui->m_Upgrade};
    for (int i = 0; i < 4; ++i)
        buttons[i]->setChecked(i == current);
}

void OrvaneTool::OnModifyIPs() { switchPage(TablePage); }
void OrvaneTool::OnDevCfg()
{
    if (!switchPage(ConfigPage))
        updatePageButtons();
}
void OrvaneTool::OnSystem()
{
    if (!switchPage(SystemPage))
        updatePageButtons();
}
void OrvaneTool::OnUpgrade()
{
    if (!switchPage(UpgradePage))
        updatePageButtons();
}

void OrvaneTool::slot_UpgradeFlag(bool busy)
{
    m_upgradeBusy = busy;
    // The other pages stay shut while upgrades run; say so by the look of
    // their buttons too.
    for (QToolButton *b : {m_ui->m_ModifyIPs, m_ui->m_DevCfg, m_ui->m_System})
        b->setEnabled(!busy);
    // Queued: the close deletes the page, which must not happen inside the
    // page's own signal.
    if (!busy && m_closePending && !m_closed)
        QMetaObject::invokeMethod(this, &OrvaneTool::OnClose, Qt::QueuedConnection);
}

bool OrvaneTool::askCloseAfterUpgrades()
{
    QMessageBox box(QMessageBox::Question, CMultiLanguage::text(QStringLiteral("tips")),
                    CMultiLanguage::text(QStringLiteral("Upgrade.CloseQuestion")), QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Yes)->setText(CMultiLanguage::text(QStringLiteral("Upgrade.CloseAfter")));
    box.button(QMessageBox::No)->setText(CMultiLanguage::text(QStringLiteral("Upgrade.KeepOpen")));
    box.setDefaultButton(QMessageBox::No);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes);
}

void OrvaneTool::slot_SetPassword()
{
    CPasswordDlg dialog;
    dialog.setCredentials(m_user, m_password, CMultiLanguage::text(QStringLiteral("Settings")));
    connect(&dialog, &CPasswordDlg::PasswordDlgChange, this, &OrvaneTool::slot_SetPasswordChange);
    dialog.exec();
}

void OrvaneTool::slot_SetPasswordChange(QString user, QString password)
{
    m_user = user;
    m_password = password;
    NetSdk_SetDefaultCredentials(user.toLatin1().constData(), password.toLatin1().constData());
    if (m_thread.isRunning())
        return; // applied when the running search is presented
    m_list.setCredentials(user.toLatin1().toStdString(), password.toLatin1().toStdString());
    handOutDeviceList();
}

void OrvaneTool::slot_OPenMenu()
{
    QMenu menu(this);
    menu.setStyleSheet(QStringLiteral("QMenu{background-color:rgba(61,66,72);color:white;}"
                                      "QMenu::item:selected{background-color:rgba(61,66,72);}"));
    QAction *help = menu.addAction(CMultiLanguage::text(QStringLiteral("Help")));
    QAction *language = menu.addAction(CMultiLanguage::text(QStringLiteral("Language")));
    QAction *log = menu.addAction(CMultiLanguage::text(QStringLiteral("Activity log")));
    connect(help, &QAction::triggered, this, &OrvaneTool::slot_OPenHelpPDF);
    connect(log, &QAction::triggered, this, &OrvaneTool::slot_OpenActivityLog);
    connect(language, &QAction::triggered, this, &OrvaneTool::slot_ChangeLanguage);
    menu.exec(QCursor::pos());
}

void OrvaneTool::slot_OpenActivityLog()
{
    // Kept open beside the window while the installer works, and filled as
    // changes are made; one instance, raised when asked for again.
    if (!m_activityLog) {
        m_activityLog = new CActivityLogDlg(this);
        m_activityLog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_activityLog->show();
    m_activityLog->raise();
    m_activityLog->activateWindow();
}

void OrvaneTool::slot_OPenHelpPDF()
{
    const QString path = AppPaths::programDir()
        + (m_chinese ? QStringLiteral("/Manual/Scoutrix用户手册V1.0.pdf")
                     : QStringLiteral("/Manual/Scoutrix User ManualV1.0.pdf"));
    if (m_env.openUrl)
        m_env.openUrl(QUrl::fromLocalFile(path));
}

void OrvaneTool::slot_ChangeLanguage()
{
    CMultiLanguage::languageName();
    CMultiLanguage::setLanguageName(QStringLiteral("Eng"));
    if (m_env.restart)
        m_env.restart();
}

void OrvaneTool::OnMinimize() { setWindowState(Qt::WindowMinimized); }

void OrvaneTool::OnMaxmize()
{
    if (m_normalSize == 1) {
        m_normalSize = 0;
        m_ui->m_max->setStyleSheet(QStringLiteral(
            "QPushButton{border:none;background-color:rgba(61,66,72);background-image: "
            "url(Skin/min_normal.png);}QPushButton:hover{background-image: url(Skin/min_hover.png)}"));
        setWindowState(Qt::WindowMaximized);
    } else {
        m_normalSize = 1;
        m_ui->m_max->setStyleSheet(QStringLiteral(
            "QPushButton{border:none;background-color:rgba(61,66,72);background-image: "
            "url(Skin/max_normal.png);}QPushButton:hover{background-image: url(Skin/max_hover.png)}"));
        showNormal();
    }
}

void OrvaneTool::OnClose()
{
    if (m_closed)
        return;
    if (m_moving) {
        // The call under way finishes (within its timeout); nothing more is
        // sent, and the window closes once the last outcome is in.
        m_mover.cancel();
        m_closePending = true;
        m_ui->centralWidget->setEnabled(false);
        m_ui->m_Devlabel->setText(CMultiLanguage::text(QStringLiteral("Closing after the move ends")));
        return;
    }
    if (m_thread.isRunning()) {
        // The worker is writing the device list; close once it has finished
        // (the SDK search returns within its timeout).
        m_closePending = true;
        m_ui->centralWidget->setEnabled(false);
        m_ui->m_Devlabel->setText(CMultiLanguage::text(QStringLiteral("Closing after the search ends")));
        return;
    }
    if (m_systemPage && m_systemPage->batchRunning()) {
        // No device starts after this; the ones under way finish (each within
        // its timeouts), and the window closes once the batch has ended.
        m_systemPage->slot_CancelBatch();
        m_closePending = true;
        m_ui->centralWidget->setEnabled(false);
        m_ui->m_Devlabel->setText(CMultiLanguage::text(QStringLiteral("Closing after the batch ends")));
        return;
    }
    if (m_upgradePage && m_upgradePage->upgradesRunning()) {
        // A device cut off mid-flash is worse off than either firmware: the
        // ones under way finish (verified, within the comeback time), the
        // queued ones are dropped, and the window closes after the last.
        if (!m_closePending && !askCloseAfterUpgrades())
            return;
        if (m_upgradePage->upgradesRunning()) {
            m_upgradePage->cancelQueued();
            m_closePending = true;
            m_ui->centralWidget->setEnabled(false);
            m_ui->m_Devlabel->setText(CMultiLanguage::text(QStringLiteral("Closing after the upgrades end")));
            return;
        }
    }
    m_closed = true;
    if (m_configPage)
        m_configPage->shutdown();
    // A batch under way: no device starts after this, the ones under way
    // finish (each within its timeouts).
    if (m_systemPage)
        m_systemPage->shutdown();
    m_list.logoutAll([](int32_t handle) { NetSdk_Logout(handle); });
    delete m_tablePage;
    m_tablePage = nullptr;
    delete m_systemPage;
    m_systemPage = nullptr;
    delete m_upgradePage;
    m_upgradePage = nullptr;
    delete m_configPage;
    m_configPage = nullptr;
    if (m_env.quit)
        m_env.quit();
}

void OrvaneTool::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        event->ignore();
        OnClose();
        return;
    }
    QMainWindow::closeEvent(event);
}

void OrvaneTool::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->pos();
    const QSize band = m_ui->widget_5->size();
    qDebug() << event->globalX() << event->globalY() << x() << y() << band.width() << band.height();
    m_drag.press(event, this, p.x() < band.width() && p.y() < band.height());
    QMainWindow::mousePressEvent(event);
}

void OrvaneTool::mouseMoveEvent(QMouseEvent *event)
{
    QPoint pos;
    if (m_drag.move(event, &pos)) {
        move(pos);
        emit mouseButtonMove(pos);
        emit signalMainWindowMove();
    }
    QMainWindow::mouseMoveEvent(event);
}
