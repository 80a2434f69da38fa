#include "CConfigSetWidget.h"
#include "ui_CConfigSetWidget.h"

#include <QDebug>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMovie>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "AppPaths.h"
#include "CAudioCfgWidget.h"
#include "CCameraParam.h"
#include "CEncodeCfgWidget.h"
#include "CMultiLanguage.h"
#include "CPasswordDlg.h"
#include "CResultMark.h"
#include "CToolTips.h"
#include "ConfigPageLogic.h"
#include "NetSdk.h"

using scoutrix::DeviceRecord;

namespace {

constexpr int kIndexRole = Qt::UserRole + 1;      // 257: list index, -1 on a group
constexpr int kOperationRole = Qt::UserRole + 2;  // 258: operation id of the last save
constexpr int32_t kLoginMode = 1;

const QString kTabUnchecked = QStringLiteral("border:none;background-image: url(Skin/tabAll_unCheck.png);");
const QString kTabChecked = QStringLiteral("border:none;background-image: url(Skin/tabAll_Check.png);");

QPixmap programPicture(const QString &name)
{
    return QPixmap(AppPaths::programDir() + QStringLiteral("/Skin/") + name);
}

} // namespace

CConfigSetWidget::CConfigSetWidget(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::CConfigSetWidget>())
{
    m_ui->setupUi(this);
    // Failure texts can quote what a device answered: never markup.
    m_ui->labText->setTextFormat(Qt::PlainText);
    QTreeWidget *tree = m_ui->IPTree;
    tree->header()->hide();
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    tree->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    // Column 1 holds only the 16x16 result mark.
    tree->header()->setMinimumSectionSize(16);
    tree->header()->resizeSection(1, 22);
    tree->setIndentation(16);
    QFont font = tree->font();
    font.setPointSize(10);
    tree->setFont(font);
    tree->setStyleSheet(QStringLiteral("border:none\n"));
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Config.qss")));

    m_ui->label->hide();
    m_ui->labPic->setPixmap(programPicture(QStringLiteral("start.png")));
    m_ui->labText->setText(CMultiLanguage::text(QStringLiteral("Double click on the device to get device information")));

    m_ui->btnEncode->setText(CMultiLanguage::text(QStringLiteral("Encode CFG")));
    m_ui->btnVideo->setText(CMultiLanguage::text(QStringLiteral("VideoCFG")));
    m_ui->btnAudio->setText(CMultiLanguage::text(QStringLiteral("AudioCFG")));
    markPageButton(nullptr);
    hidePageButtons();

    connect(tree, &QTreeWidget::itemDoubleClicked, this, &CConfigSetWidget::slot_itemDoubleClicked);
    connect(m_ui->btnEncode, &QPushButton::clicked, this, &CConfigSetWidget::slot_EncodeInfo);
    connect(m_ui->btnVideo, &QPushButton::clicked, this, &CConfigSetWidget::slot_CameraInfo);
    connect(m_ui->btnAudio, &QPushButton::clicked, this, &CConfigSetWidget::slot_AudioInfo);
    connect(m_ui->pushButton, &QPushButton::clicked, this, &CConfigSetWidget::slot_SearchIP);
    // Queued even on the GUI thread: after a failed login from the password
    // dialog, the next dialog opens once the previous one has returned
    // instead of nesting inside it.
    connect(this, &CConfigSetWidget::sig_EncodeWidget, this, &CConfigSetWidget::slot_InitEncodeWidget,
            Qt::QueuedConnection);
    connect(this, &CConfigSetWidget::sig_CameraWidget, this, &CConfigSetWidget::slot_InitCameraWidget,
            Qt::QueuedConnection);
    connect(this, &CConfigSetWidget::sig_AidioWidget, this, &CConfigSetWidget::slot_InitAudioWidget,
            Qt::QueuedConnection);
    connect(this, &CConfigSetWidget::sig_EncodePassword, this, &CConfigSetWidget::slot_Password,
            Qt::QueuedConnection);
    connect(this, &CConfigSetWidget::sig_LoginError, this, &CConfigSetWidget::slot_LoginError,
            Qt::QueuedConnection);
    qRegisterMetaType<scoutrix::LoginResult>();
    connect(this, &CConfigSetWidget::sig_LoginFinished, this, &CConfigSetWidget::finishLogin,
            Qt::QueuedConnection);
}

CConfigSetWidget::~CConfigSetWidget()
{
    shutdown();
}

void CConfigSetWidget::shutdown()
{
    m_shutDown = true;
    m_pendingMac.clear();
    m_thread.wait();
    // A result still on its way to the GUI thread would never be delivered.
    if (m_activeSequence != 0) {
        m_activeSequence = 0;
        if (m_result.handle > 0)
            NetSdk_Logout(m_result.handle);
    }
}

bool CConfigSetWidget::loginRunning() const
{
    return m_activeSequence != 0 || m_thread.isRunning();
}

void CConfigSetWidget::setDeviceList(DeviceRecord *devices, int count)
{
    m_devices = devices;
    m_count = devices ? std::max(count, 0) : 0;
    m_rebuilding = false;
    m_ui->IPTree->setEnabled(true);
    // List indices mean nothing across searches; the MAC names the device.
    m_selected = m_selectedMac.empty() ? -1 : scoutrix::indexOfMac(m_devices, m_count, m_selectedMac);
    buildTree();
    if (m_currentPage == scoutrix::StartPage)
        hidePageButtons();
    showPage(m_currentPage);
    startPendingLogin();
}

void CConfigSetWidget::listRebuildStarted(uint32_t generation)
{
    m_generation = generation;
    m_rebuilding = true;
    m_devices = nullptr;
    m_count = 0;
    m_selected = -1;
    m_ui->IPTree->setEnabled(false);
}

void CConfigSetWidget::resetToFirstView()
{
    m_currentPage = scoutrix::StartPage;
    hidePageButtons();
    showPage(m_currentPage);
}

void CConfigSetWidget::buildTree()
{
    QTreeWidget *tree = m_ui->IPTree;
    tree->clear();
    const std::string filter = m_filterText.toStdString();
    const auto groups = scoutrix::groupDevices(m_devices, m_count, m_filterActive ? &filter : nullptr);
    for (const scoutrix::DeviceGroup &group : groups) {
        auto *top = new QTreeWidgetItem(tree);
        top->setText(0, group.ipc ? CMultiLanguage::text(QStringLiteral("IPC"))
                                  : CMultiLanguage::text(QStringLiteral("DVR/NVR")));
        top->setData(0, kIndexRole, -1);
        for (int index : group.devices) {
            auto *item = new QTreeWidgetItem(top);
            item->setText(0, QString::fromStdString(m_devices[index].netInfo.ipText()));
            item->setData(0, kIndexRole, index);
        }
    }
    tree->expandAll();
}

void CConfigSetWidget::slot_SearchIP()
{
    m_filterText = m_ui->lineEdit->text();
    m_filterActive = true;
    buildTree();
    m_filterActive = false;
}

void CConfigSetWidget::showPage(int index)
{
    m_ui->stackedWidget->setCurrentIndex(index);
}

void CConfigSetWidget::hidePageButtons()
{
    m_ui->btnEncode->hide();
    m_ui->btnVideo->hide();
    m_ui->btnAudio->hide();
}

void CConfigSetWidget::markPageButton(QPushButton *checked)
{
    for (QPushButton *b : {m_ui->btnEncode, m_ui->btnVideo, m_ui->btnAudio})
        b->setStyleSheet(b == checked ? kTabChecked : kTabUnchecked);
}

DeviceRecord *CConfigSetWidget::selectedRecord() const
{
    if (!m_devices || m_selected < 0 || m_selected >= m_count)
        return nullptr;
    return &m_devices[m_selected];
}

bool CConfigSetWidget::selectedIsIpc() const
{
    const DeviceRecord *d = selectedRecord();
    return d && d->loginInfo.loginDeviceType() == int32_t(scoutrix::DeviceType::IPC);
}

void CConfigSetWidget::stopLoading()
{
    if (m_movie)
        m_movie->stop();
    m_ui->labPic->clear();
}

void CConfigSetWidget::showFailure(const QString &text)
{
    stopLoading();
    m_ui->labPic->setPixmap(programPicture(QStringLiteral("loadfaile.png")));
    m_ui->labText->setText(text);
}

void CConfigSetWidget::slot_itemDoubleClicked(QTreeWidgetItem *item, int)
{
    m_currentPage = scoutrix::StartPage;
    hidePageButtons();
    showPage(m_currentPage);
    if (!item)
        return;
    const int index = item->data(0, kIndexRole).toInt();
    // The tree is stale while a search rewrites the list.
    const bool device = !m_rebuilding && m_devices && index >= 0 && index < m_count;
    m_selected = device ? index : -1;
    m_selectedMac = device ? m_devices[index].netInfo.macText() : std::string();
    if (!device) {
        // A group: nothing to log in to; a login still running is no longer wanted.
        m_pendingMac.clear();
        if (loginRunning())
            stopLoading();
        return;
    }
    startLoading();
    startLogin(m_selected);
}

void CConfigSetWidget::startLoading()
{
    if (!m_movie)
        m_movie = new QMovie(QDir::currentPath() + QStringLiteral("/Skin/loading.gif"), QByteArray(), this);
    m_ui->labPic->setMovie(m_movie);
    m_movie->start();
}

void CConfigSetWidget::showHint()
{
    stopLoading();
    m_ui->labPic->setPixmap(programPicture(QStringLiteral("start.png")));
    m_ui->labText->setText(CMultiLanguage::text(QStringLiteral("Double click on the device to get device information")));
}

// One worker, one login at a time: a device chosen while another login runs
// waits for it, and the latest choice is the one whose pages appear. The
// worker gets a copy of the record and the record's session to log out; the
// result is written back on the GUI thread by finishLogin().
void CConfigSetWidget::startLogin(int index)
{
    if (m_shutDown || m_rebuilding || !m_devices || index < 0 || index >= m_count)
        return;
    DeviceRecord &d = m_devices[index];
    const std::string mac = d.netInfo.macText();
    if (m_activeSequence != 0) {
        m_pendingMac = mac == m_request.mac ? std::string() : mac;
        return;
    }
    // The previous worker has delivered its result and is at most returning.
    m_thread.wait();
    m_request = scoutrix::makeLoginRequest(d, m_generation, ++m_nextSequence);
    if (d.loginHandle > 0)
        d.loginHandle = 0;
    m_activeSequence = m_request.sequence;
    m_thread.setRoutine(&CConfigSetWidget::loginRoutine, this);
    m_thread.start(QThread::InheritPriority);
}

void CConfigSetWidget::startPendingLogin()
{
    if (m_pendingMac.empty() || m_rebuilding || m_activeSequence != 0)
        return;
    const std::string mac = m_pendingMac;
    m_pendingMac.clear();
    if (mac != m_selectedMac)
        return;
    const int index = scoutrix::indexOfMac(m_devices, m_count, mac);
    if (index < 0) {
        showHint(); // the device did not answer the last search
        return;
    }
    m_selected = index;
    startLogin(index);
}

int CConfigSetWidget::loginRoutine(void *context)
{
    auto *page = static_cast<CConfigSetWidget *>(context);
    page->m_result = runLogin(page->m_request);
    emit page->sig_LoginFinished(page->m_result);
    return page->m_result.handle;
}

scoutrix::LoginResult CConfigSetWidget::runLogin(const scoutrix::LoginRequest &request)
{
    // A handle of 0 or less never was a login.
    if (request.previousHandle > 0)
        NetSdk_Logout(request.previousHandle);
    qDebug() << "m_Device.szDevIP" << request.ip.c_str();
    scoutrix::LoginResult r;
    r.sequence = request.sequence;
    r.generation = request.generation;
    r.mac = request.mac;
    r.handle = NetSdk_Login(request.ip.c_str(), request.port, request.user.c_str(),
                            request.password.c_str(), r.info.bytes, kLoginMode, &r.error, 0, 0);
    return r;
}

void CConfigSetWidget::finishLogin(const scoutrix::LoginResult &result)
{
    // Already settled by shutdown(), or not the login this page waits for.
    if (result.sequence != m_activeSequence)
        return;
    m_activeSequence = 0;
    const scoutrix::LoginPlacement place
        = scoutrix::placeLoginResult(result, m_generation, m_rebuilding, m_devices, m_count);
    if (place.index < 0) {
        if (place.logout) {
            qDebug() << "login of" << result.mac.c_str() << "outlived its device list; logged out";
            NetSdk_Logout(result.handle);
        }
        // The device is still wanted: log in again once the list is settled.
        if (result.mac == m_selectedMac && m_pendingMac.empty())
            m_pendingMac = result.mac;
        startPendingLogin();
        return;
    }
    DeviceRecord &d = m_devices[place.index];
    d.loginHandle = result.handle;
    d.loginInfo = result.info;
    if (!m_pendingMac.empty()) {
        startPendingLogin();
        return;
    }
    // A login the user has since moved away from changes nothing on screen.
    if (result.mac != m_selectedMac)
        return;
    m_selected = place.index;
    if (result.handle <= 0) {
        emit sig_LoginError(result.error);
        if (scoutrix::loginErrorAsksForCredentials(result.error))
            emit sig_EncodePassword();
    } else if (d.loginInfo.videoChannelCount() != 0) {
        emit sig_EncodeWidget();
        if (d.loginInfo.loginDeviceType() == int32_t(scoutrix::DeviceType::IPC)) {
            emit sig_CameraWidget();
            emit sig_AidioWidget();
        }
    } else {
        showFailure(CMultiLanguage::text(QStringLiteral("NotSupports")));
    }
}

void CConfigSetWidget::slot_LoginError(int error)
{
    showFailure(CMultiLanguage::text(QString::fromLatin1(scoutrix::loginErrorKey(error))));
}

void CConfigSetWidget::slot_Password()
{
    // Asked for by a failed login; not if another device was chosen since.
    const DeviceRecord *d = selectedRecord();
    // The worker may still be returning from the failed login: only an
    // awaited result (a retry already under way) keeps the dialog away.
    if (!d || d->loginHandle > 0 || m_activeSequence != 0 || m_shutDown)
        return;
    CPasswordDlg dialog(this);
    connect(&dialog, &CPasswordDlg::PasswordDlgChange, this, &CConfigSetWidget::slot_SetPasswordChange);
    dialog.setCredentials(QStringLiteral("admin"), QString(), CMultiLanguage::text(QStringLiteral("Login")));
    dialog.exec();
}

void CConfigSetWidget::slot_SetPasswordChange(QString user, QString password)
{
    DeviceRecord *d = selectedRecord();
    if (!d)
        return;
    d->setCredentials(user.toLatin1().toStdString(), password.toLatin1().toStdString());
    startLoading();
    // The retry runs on the worker like the first login, never on the GUI thread.
    if (m_activeSequence != 0)
        m_pendingMac = m_selectedMac;
    else
        startLogin(m_selected);
}

void CConfigSetWidget::slot_InitEncodeWidget()
{
    qDebug() << "slot_InitEncodeWidget";
    const DeviceRecord *d = selectedRecord();
    if (!d || d->loginHandle <= 0)
        return;
    if (!m_encode) {
        m_encode = new CEncodeCfgWidget(m_ui->page_3);
        connect(m_encode, &CEncodeCfgWidget::sig_StopMove, this, &CConfigSetWidget::slot_OpenEncodeInfo);
        connect(m_encode, &CEncodeCfgWidget::sig_SetEncodeResult, this, &CConfigSetWidget::slot_EncodePage);
        m_ui->EncodeLayout->addWidget(m_encode);
    }
    m_encode->setDevice(*d);
}

void CConfigSetWidget::slot_InitCameraWidget()
{
    qDebug() << "slot_InitCameraWidget";
    const DeviceRecord *d = selectedRecord();
    if (!d || d->loginHandle <= 0)
        return;
    if (!m_camera) {
        m_camera = new CCameraParam(m_ui->page_2);
        connect(m_camera, &CCameraParam::sig_SetCameraResult, this, &CConfigSetWidget::slot_EncodePage);
        m_ui->CameraLayout->addWidget(m_camera);
    }
    m_camera->setDevice(*d);
}

void CConfigSetWidget::slot_InitAudioWidget()
{
    qDebug() << "slot_InitAudioWidget";
    const DeviceRecord *d = selectedRecord();
    if (!d || d->loginHandle <= 0)
        return;
    if (!m_audio) {
        m_audio = new CAudioCfgWidget(m_ui->page_4);
        connect(m_audio, &CAudioCfgWidget::sig_SetAudioResult, this, &CConfigSetWidget::slot_EncodePage);
        m_ui->AudioLayout->addWidget(m_audio);
    }
    m_audio->setDevice(*d);
}

void CConfigSetWidget::slot_OpenEncodeInfo()
{
    stopLoading();
    m_ui->btnEncode->show();
    if (selectedIsIpc()) {
        m_ui->btnVideo->show();
        m_ui->btnAudio->show();
    }
    markPageButton(m_ui->btnEncode);
    m_currentPage = scoutrix::EncodePage;
    showPage(m_currentPage);
}

void CConfigSetWidget::slot_EncodeInfo()
{
    m_currentPage = scoutrix::EncodePage;
    showPage(m_currentPage);
    markPageButton(m_ui->btnEncode);
}

void CConfigSetWidget::slot_CameraInfo()
{
    m_currentPage = scoutrix::CameraPage;
    showPage(m_currentPage);
    markPageButton(m_ui->btnVideo);
}

void CConfigSetWidget::slot_AudioInfo()
{
    qDebug() << "slot_AudioInfo";
    m_currentPage = scoutrix::AudioPage;
    showPage(m_currentPage);
    markPageButton(m_ui->btnAudio);
}

void CConfigSetWidget::slot_EncodePage(int nResult, long loginID)
{
    // The page that sent the result names the operation, whatever is shown now.
    const QObject *from = sender();
    int page = m_currentPage;
    if (from && from == m_encode)
        page = scoutrix::EncodePage;
    else if (from && from == m_camera)
        page = scoutrix::CameraPage;
    else if (from && from == m_audio)
        page = scoutrix::AudioPage;
    const int operationId = scoutrix::saveOperationId(page);

    QTreeWidget *tree = m_ui->IPTree;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        QTreeWidgetItem *item = *it;
        const int index = item->data(0, kIndexRole).toInt();
        if (!m_devices || index < 0 || index >= m_count || m_devices[index].loginHandle != loginID)
            continue;
        auto *mark = new CResultMark(nResult, operationId);
        connect(mark, &QPushButton::clicked, this, &CConfigSetWidget::slot_btnOpenTips);
        tree->setItemWidget(item, 1, mark);
        item->setData(1, kIndexRole, nResult);
        item->setData(1, kOperationRole, operationId);
    }
}

void CConfigSetWidget::slot_btnOpenTips()
{
    QTreeWidget *tree = m_ui->IPTree;
    // The pressed mark names its own device; without one, the selection does.
    QList<QTreeWidgetItem *> items;
    if (auto *mark = qobject_cast<CResultMark *>(sender())) {
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            if (tree->itemWidget(*it, 1) == mark)
                items << *it;
        }
    } else {
        items = tree->selectedItems();
    }
    for (QTreeWidgetItem *item : items) {
        const int index = item->data(0, kIndexRole).toInt();
        if (!m_devices || index < 0 || index >= m_count)
            continue;
        const QString device = QString::fromStdString(scoutrix::fieldText(m_devices[index].ipText));
        const int result = item->data(1, kIndexRole).toInt();
        const int operationId = item->data(1, kOperationRole).toInt();
        emit sig_OpenResultNotice(device, result, operationId);
        CToolTips notice(nullptr, device, result, operationId, 0);
        notice.exec();
    }
}
