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
constexpr int32_t kIpcType = 2;
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
    connect(this, &CConfigSetWidget::sig_LoginFinished, this, &CConfigSetWidget::finishLogin,
            Qt::QueuedConnection);
    connect(&m_thread, &QThread::finished, this, &CConfigSetWidget::onWorkerFinished);
}

CConfigSetWidget::~CConfigSetWidget()
{
    // The worker writes into the device list and signals this page.
    m_pendingLogin = -1;
    m_thread.wait();
}

void CConfigSetWidget::setDeviceList(DeviceRecord *devices, int count)
{
    m_devices = devices;
    m_count = devices ? std::max(count, 0) : 0;
    buildTree();
    if (m_currentPage == scoutrix::StartPage)
        hidePageButtons();
    showPage(m_currentPage);
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
    return d && d->loginInfo.loginDeviceType() == kIpcType;
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
    m_selected = item->data(0, kIndexRole).toInt();
    if (m_selected < 0) {
        // A group: nothing to log in to; a login still running is no longer wanted.
        m_pendingLogin = -1;
        if (m_thread.isRunning())
            stopLoading();
        return;
    }
    if (!m_movie)
        m_movie = new QMovie(QDir::currentPath() + QStringLiteral("/Skin/loading.gif"), QByteArray(), this);
    m_ui->labPic->setMovie(m_movie);
    m_movie->start();
    startLogin(m_selected);
}

// One worker, one login at a time: a device chosen while another login runs
// waits for it, so no two logins ever write the same record at once, and the
// latest choice is the one whose pages appear.
void CConfigSetWidget::startLogin(int index)
{
    if (m_thread.isRunning()) {
        m_pendingLogin = index == m_loginIndex ? -1 : index;
        return;
    }
    if (!m_devices || index < 0 || index >= m_count)
        return;
    m_loginIndex = index;
    m_loginRecord = &m_devices[index];
    m_thread.setRoutine(&CConfigSetWidget::loginRoutine, this);
    m_thread.start(QThread::InheritPriority);
}

void CConfigSetWidget::onWorkerFinished()
{
    m_thread.wait();
    const int next = m_pendingLogin;
    m_pendingLogin = -1;
    if (next >= 0 && next == m_selected)
        startLogin(next);
}

int CConfigSetWidget::loginRoutine(void *context)
{
    auto *page = static_cast<CConfigSetWidget *>(context);
    const LoginOutcome outcome = loginDevice(*page->m_loginRecord);
    emit page->sig_LoginFinished(page->m_loginIndex, outcome.handle, outcome.error);
    return outcome.handle;
}

CConfigSetWidget::LoginOutcome CConfigSetWidget::loginDevice(DeviceRecord &d)
{
    // A handle of 0 or less never was a login.
    if (d.loginHandle > 0) {
        NetSdk_Logout(d.loginHandle);
        d.loginHandle = 0;
    }
    const std::string ip = scoutrix::fieldText(d.ipText);
    const std::string user = scoutrix::fieldText(d.userName);
    const std::string password = scoutrix::fieldText(d.password);
    qDebug() << "m_Device.szDevIP" << ip.c_str();
    int32_t error = 0;
    const int32_t handle = NetSdk_Login(ip.c_str(), d.port, user.c_str(), password.c_str(),
                                        d.loginInfo.bytes, kLoginMode, &error, 0, 0);
    d.loginHandle = handle;
    return {handle, error};
}

void CConfigSetWidget::finishLogin(int index, int32_t handle, int32_t error)
{
    // A login the user has since moved away from changes nothing on screen.
    if (index != m_selected)
        return;
    const DeviceRecord *d = selectedRecord();
    if (!d)
        return;
    if (handle <= 0) {
        emit sig_LoginError(error);
        emit sig_EncodePassword();
    } else if (d->loginInfo.videoChannelCount() != 0) {
        emit sig_EncodeWidget();
        if (d->loginInfo.loginDeviceType() == kIpcType) {
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
    if (!d || d->loginHandle > 0 || m_thread.isRunning())
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
    if (m_thread.isRunning()) {
        // The worker owns the record until it is done; log in right after.
        m_pendingLogin = m_selected;
        return;
    }
    d->setCredentials(user.toLatin1().toStdString(), password.toLatin1().toStdString());
    const LoginOutcome outcome = loginDevice(*d);
    finishLogin(m_selected, outcome.handle, outcome.error);
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

QWidget *CConfigSetWidget::makePlaceholder(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

void CConfigSetWidget::slot_InitCameraWidget()
{
    qDebug() << "slot_InitCameraWidget";
    if (!m_camera) {
        m_camera = makePlaceholder(CMultiLanguage::text(QStringLiteral("This page arrives with the camera settings")),
                                   m_ui->page_2);
        m_ui->CameraLayout->addWidget(m_camera);
    }
}

void CConfigSetWidget::slot_InitAudioWidget()
{
    qDebug() << "slot_InitAudioWidget";
    if (!m_audio) {
        m_audio = makePlaceholder(CMultiLanguage::text(QStringLiteral("This page arrives with the audio settings")),
                                  m_ui->page_4);
        m_ui->AudioLayout->addWidget(m_audio);
    }
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
