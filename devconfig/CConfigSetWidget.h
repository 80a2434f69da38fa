#pragma once
// The device-configuration page: the discovered devices as a tree grouped by
// kind, a login on double-click, and a stack with the start page and the
// encode, camera and audio pages of the logged-in device. Holds a borrowed
// pointer to the main window's device list; it never frees it.

#include <QWidget>

#include <memory>

#include "CMyThread.h"
#include "DeviceRecords.h"

namespace Ui {
class CConfigSetWidget;
}

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

    // Back to the start view (index 0), page buttons hidden.
    void resetToFirstView();

    int currentPage() const { return m_currentPage; }
    int selectedDevice() const { return m_selected; }
    bool loginRunning() const { return m_thread.isRunning(); }
    CEncodeCfgWidget *encodeWidget() const { return m_encode; }

signals:
    void sig_EncodeWidget();
    void sig_EncodePassword();
    void sig_CameraWidget();
    void sig_AidioWidget();
    void sig_LoginError(int Error);
    // From the login worker to the GUI thread.
    void sig_LoginFinished(int device, int handle, int error);
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
    struct LoginOutcome
    {
        int32_t handle;
        int32_t error;
    };

    static int loginRoutine(void *context);
    static LoginOutcome loginDevice(scoutrix::DeviceRecord &device);
    void finishLogin(int index, int32_t handle, int32_t error);
    void startLogin(int index);
    void onWorkerFinished();
    void buildTree();
    void showPage(int index);
    void hidePageButtons();
    void markPageButton(QPushButton *checked);
    void showFailure(const QString &text);
    void stopLoading();
    scoutrix::DeviceRecord *selectedRecord() const;
    bool selectedIsIpc() const;
    QWidget *makePlaceholder(const QString &text, QWidget *parent);

    std::unique_ptr<Ui::CConfigSetWidget> m_ui;
    scoutrix::DeviceRecord *m_devices = nullptr;
    int m_count = 0;
    QMovie *m_movie = nullptr;
    int m_currentPage = 0;
    int m_selected = -1;
    // Device the worker logs in, taken on the GUI thread while the worker is
    // idle, so the worker never reads the list pointer or count.
    int m_loginIndex = -1;
    scoutrix::DeviceRecord *m_loginRecord = nullptr;
    // A device chosen while the worker was busy; its login follows.
    int m_pendingLogin = -1;
    CEncodeCfgWidget *m_encode = nullptr;
    QWidget *m_camera = nullptr;
    QWidget *m_audio = nullptr;
    QString m_filterText;
    bool m_filterActive = false;
    CMyThread m_thread;
};
