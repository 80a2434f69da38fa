#pragma once
// The frameless main window. It owns the device list for its whole life, the
// search worker, the credentials used for every device and the four pages.

#include <QHostAddress>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

#include "CMyThread.h"
#include "DeviceList.h"
#include "FramelessDrag.h"
#include "SegmentMovePlan.h"
#include "SegmentMover.h"

class QLabel;
class QMovie;
class QUrl;
class CIPSearch;
class CConfigSetWidget;
class CSystemCFGWidget;
class CUpgradeWidget;
class CActivityLogDlg;

namespace Ui {
class OrvaneToolClass;
}

class OrvaneTool : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OrvaneTool)

public:
    enum Page { TablePage = 0, ConfigPage = 1, SystemPage = 2, UpgradePage = 3 };

    // Seams for what leaves the program: the PC's own addresses, opening a
    // file or URL on the desktop, and the restart after a language switch.
    struct Environment
    {
        std::function<QList<QHostAddress>(bool *ok)> localAddresses;
        std::function<bool(const QUrl &)> openUrl;
        std::function<void()> restart;
        std::function<void()> quit;
        bool startSearch = true;
    };
    static Environment defaultEnvironment();

    explicit OrvaneTool(QWidget *parent = nullptr, Environment env = defaultEnvironment());
    ~OrvaneTool() override;

    scoutrix::DeviceList &deviceList() { return m_list; }
    const QString &userName() const { return m_user; }
    const QString &password() const { return m_password; }
    bool isSearching() const { return m_thread.isRunning(); }
    // A segment move is being sent: searches and page switches wait for it.
    bool isMoving() const { return m_moving; }
    bool isChinese() const { return m_chinese; }
    int modifiedFlag() const { return m_modified; }
    bool upgradeBusy() const { return m_upgradeBusy; }
    int currentPage() const;
    CIPSearch *tablePage() const { return m_tablePage; }
    CConfigSetWidget *configPage() const { return m_configPage; }
    CSystemCFGWidget *systemPage() const { return m_systemPage; }
    CUpgradeWidget *upgradePage() const { return m_upgradePage; }

    // The PC's segment: the first three octets of the last IPv4 address.
    static bool localSegment(const QList<QHostAddress> &addresses, uint8_t segment[3]);

signals:
    void mouseButtonMove(QPoint pos);
    void signalMainWindowMove();
    void searchEnd();

public slots:
    void slot_ModifyIPFlag();
    void SearchDev();
    void OnClose();
    void OnMinimize();
    void OnMaxmize();
    void OnModifyIPs();
    void OnDevCfg();
    void OnSystem();
    void OnUpgrade();
    void slot_SetPassword();
    void slot_OPenMenu();
    void slot_SetPasswordChange(QString user, QString password);
    void slot_OPenHelpPDF();
    void slot_ChangeLanguage();
    void slot_searchShow();
    void slot_UpgradeFlag(bool busy);
    void slot_OpenActivityLog();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    static int searchRoutine(void *context);
    void runSearch();
    bool switchPage(Page page);
    void ensurePages();
    void makeSystemPage();
    void makeUpgradePage();
    // Upgrades are under way: close once they have ended (true) or keep the window open.
    bool askCloseAfterUpgrades();
    void handOutDeviceList();
    // Plans the move into the PC's segment, asks, and starts sending it.
    void offerSegmentMove();
    void segmentMoveProgress(int number, int total);
    void segmentMoveResult(int index, int result);
    void finishSegmentMove();
    QString segmentMoveQuestion(const SegmentMovePlan &plan) const;
    QString skipDetail(const SegmentMovePlan::Step &step) const;
    void updateBusyState();
    void updatePageButtons();
    void makeTitlePictures();
    void showSearchIdle();
    void showSearchBusy();

    std::unique_ptr<Ui::OrvaneToolClass> m_ui;
    Environment m_env;
    scoutrix::DeviceList m_list;
    QString m_user;
    QString m_password;
    int m_modified = 0;
    bool m_upgradeBusy = false;
    int m_normalSize = 1;
    bool m_chinese = false;
    bool m_closePending = false;
    bool m_closed = false;
    bool m_moving = false;
    bool m_moveAgreed = false;
    bool m_searchAfterMove = false;
    std::unique_ptr<SegmentMovePlan> m_movePlan;
    // The network records as planned, and each planned move's result.
    std::vector<scoutrix::NetInfo> m_moveFound;
    std::vector<int> m_moveResults;
    FramelessDrag m_drag;
    CIPSearch *m_tablePage = nullptr;
    CConfigSetWidget *m_configPage = nullptr;
    CSystemCFGWidget *m_systemPage = nullptr;
    CUpgradeWidget *m_upgradePage = nullptr;
    QMovie *m_movie = nullptr;
    QPointer<CActivityLogDlg> m_activityLog;
    CMyThread m_thread;
    SegmentMover m_mover;
};
