#pragma once
// The device-configuration page: the discovered devices as a tree grouped by
// kind, a login on double-click, and a stack with the start page and the
// encode, camera and audio pages of the logged-in device. Holds a borrowed
// pointer to the main window's device list; it never frees it.

#include <QMetaType>
#include <QWidget>

#include <memory>
#include <string>

#include "CMyThread.h"
#include "DeviceRecords.h"
#include "LoginBinding.h"

namespace Ui {
class CConfigSetWidget;
}

class CAudioCfgWidget;
class CCameraParam;
class CEncodeCfgWidget;
class QMovie;
class QPushButton;
class QTreeWidgetItem;

class CConfigSetWidget : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CConfigSetWidget)

public:
    explicit CConfigSetWidget(QWidget *parent = nullptr);
    ~CConfigSetWidget() override;

    void setDeviceList(scoutrix::DeviceRecord *devices, int count);
    int deviceCount() const { return m_count; }

    // The main window's search starts rewriting the list: nothing is read
    // from it until the next setDeviceList(), and a login that started under
    // an older generation is logged out when it comes back.
    void listRebuildStarted(uint32_t generation);

    // Waits for a running login and logs out the session it opened; after
    // this the page starts no login. Part of the window's close.
    void shutdown();

    // Back to the start view (index 0), page buttons hidden.
    void resetToFirstView();

    int currentPage() const { return m_currentPage; }
    int selectedDevice() const { return m_selected; }
    bool loginRunning() const;
    CEncodeCfgWidget *encodeWidget() const { return m_encode; }
    CAudioCfgWidget *audioWidget() const { return m_audio; }
    CCameraParam *cameraWidget() const { return m_camera; }

signals:
    void sig_EncodeWidget();
    void sig_EncodePassword();
    void sig_CameraWidget();
    void sig_AidioWidget();
    void sig_LoginError(int Error);
    // From the login worker to the GUI thread.
    void sig_LoginFinished(scoutrix::LoginResult result);
    // Asked for when a result mark is pressed: the device's address text, the
    // stored result and the operation id.
    void sig_OpenResultNotice(QString device, int result, int operationId);

public slots:
    void slot_LoginError(int error);
    void slot_itemDoubleClicked(QTreeWidgetItem *item, int column);
    void slot_EncodeInfo();
    void slot_CameraInfo();
    void slot_AudioInfo();
    void slot_OpenEncodeInfo();
    void slot_InitEncodeWidget();
    void slot_InitCameraWidget();
    void slot_InitAudioWidget();
    void slot_Password();
    void slot_SearchIP();
    void slot_EncodePage(int nResult, long loginID);
    void slot_SetPasswordChange(QString user, QString password);
    void slot_btnOpenTips();

private:
    static int loginRoutine(void *context);
    static scoutrix::LoginResult runLogin(const scoutrix::LoginRequest &request);
    void finishLogin(const scoutrix::LoginResult &result);
    void startLogin(int index);
    void startPendingLogin();
    void startLoading();
    void showHint();
    void buildTree();
    void showPage(int index);
    void hidePageButtons();
    void markPageButton(QPushButton *checked);
    void showFailure(const QString &text);
    void stopLoading();
    scoutrix::DeviceRecord *selectedRecord() const;
    bool selectedIsIpc() const;

    std::unique_ptr<Ui::CConfigSetWidget> m_ui;
    scoutrix::DeviceRecord *m_devices = nullptr;
    int m_count = 0;
    QMovie *m_movie = nullptr;
    int m_currentPage = 0;
    int m_selected = -1;
    // The selected device as the list knows it across searches.
    std::string m_selectedMac;
    uint32_t m_generation = 0;
    bool m_rebuilding = false;
    bool m_shutDown = false;
    // Written on the GUI thread before the worker starts; the worker reads
    // only this copy and writes only m_result.
    scoutrix::LoginRequest m_request;
    scoutrix::LoginResult m_result;
    uint64_t m_nextSequence = 0;
    // The login whose result is awaited, 0 when none.
    uint64_t m_activeSequence = 0;
    // A device chosen while the worker was busy, or whose login came back to
    // a list that has changed since; its login follows.
    std::string m_pendingMac;
    CEncodeCfgWidget *m_encode = nullptr;
    CCameraParam *m_camera = nullptr;
    CAudioCfgWidget *m_audio = nullptr;
    QString m_filterText;
    bool m_filterActive = false;
    CMyThread m_thread;
};

Q_DECLARE_METATYPE(scoutrix::LoginResult)
