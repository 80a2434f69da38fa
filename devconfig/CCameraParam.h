#pragma once
// The camera page of one logged-in camera: its live picture above the image,
// exposure and fill-light settings (commands 78, 135, 134, 172). What is read
// and what a save sends is decided by CameraSettings; this widget shows it,
// hands back what the user picks and runs the preview while it is visible.

#include <QWidget>

#include "CameraSettings.h"
#include "DeviceRecords.h"

class CViewWnd;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTabWidget;

class CCameraParam final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CCameraParam)

public:
    explicit CCameraParam(QWidget *parent = nullptr);
    ~CCameraParam() override;

    // Switches the page to |device| and reads its settings at once; a
    // running preview moves to the new device.
    void setDevice(const scoutrix::DeviceRecord &device);

    const scoutrix::CameraSettings &settings() const { return m_settings; }
    int32_t loginHandle() const { return m_loginHandle; }
    int32_t streamHandle() const { return m_streamHandle; }
    CViewWnd *view() const { return m_view; }

    // The controls' values now, as a save would take them.
    scoutrix::CameraValues values() const;

signals:
    void sig_SetCameraResult(int result, long loginID);
    void play(bool preview);

public slots:
    void slot_GetDevConfig();
    void slot_save();
    void slot_ChangeLightMode(int type);
    void slot_ChangeFlash(int flashMode);
    void slot_ChangeDimming(int dimming);
    void slot_DncsetText(int value);
    void slot_AEsetText(int value);
    void slot_SEsetText(int value);
    void slot_LightsetText(int value);
    void slot_LightBrightnessText(int value);
    void StartUpPreview(bool bPreview);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildGeneralTab(QWidget *tab);
    void buildIspTab(QWidget *tab);
    void buildLightTab(QWidget *tab);
    void setTexts();
    void fillLists();
    void showSettings();
    void showReadProblem(int32_t result);
    void applyLightControls();
    void fitView();
    void logWrite(const scoutrix::CameraSettings::Write &write);
    void stopPreview();

    static int32_t dataCallback(int32_t streamHandle, int32_t dataType, char *data, int32_t length,
                                void *user);
    static void decodeCallback(int32_t port, char *frame, int32_t size, int32_t width, int32_t height,
                               int32_t timestamp, int32_t type, void *user);

    QWidget *m_viewArea = nullptr;
    CViewWnd *m_view = nullptr;
    QTabWidget *m_tabs = nullptr;
    QWidget *m_lightTab = nullptr;
    QLabel *m_readMessage = nullptr;
    QLabel *m_notice = nullptr;

    // General
    QLabel *m_labDayNight = nullptr, *m_labIRCUT = nullptr, *m_labDnc = nullptr;
    QLabel *m_labWDR = nullptr, *m_labFocusMode = nullptr;
    QComboBox *m_cmbDayNight = nullptr, *m_cmbIRCUT = nullptr, *m_cmbWDR = nullptr, *m_cmbFocusMode = nullptr;
    QSlider *m_sldDnc = nullptr;
    QLabel *m_Dnclabel = nullptr;
    QCheckBox *m_ckbMirror = nullptr, *m_ckbRoll = nullptr, *m_ckbIRGlassReverse = nullptr;
    // Image signal processing
    QLabel *m_labExposure = nullptr, *m_labBackLight = nullptr, *m_labBalance = nullptr;
    QLabel *m_labRejectFlicker = nullptr, *m_labAE = nullptr, *m_labSensitivity = nullptr;
    QLabel *m_labDayNoiseGrade = nullptr, *m_labNightNoiseGrade = nullptr;
    QComboBox *m_cmbExposure = nullptr, *m_cmbBackLight = nullptr, *m_cmbBalance = nullptr;
    QComboBox *m_cmbRejectFlicker = nullptr, *m_cmbDayNoiseGrade = nullptr, *m_cmbNightNoiseGrade = nullptr;
    QSlider *m_sldAE = nullptr, *m_sldSensitivity = nullptr;
    QLabel *m_AElabel = nullptr, *m_SElabel = nullptr;
    // Fill light
    QLabel *m_labLightType = nullptr, *m_labPhotosen = nullptr, *m_labFlashMode = nullptr;
    QLabel *m_labLightTime = nullptr, *m_labelDimming = nullptr, *m_labelLightBrightness = nullptr;
    QComboBox *m_cmbLightMode = nullptr, *m_cmbPhotosen = nullptr, *m_cmbFLashMode = nullptr;
    QComboBox *m_cmbDimming = nullptr;
    QSlider *m_sldLightTime = nullptr, *m_SldLightBrightness = nullptr;
    QLabel *m_label = nullptr, *m_label_2 = nullptr;

    QPushButton *m_btnSave = nullptr;
    QPushButton *m_btnRefresh = nullptr;

    int32_t m_loginHandle = 0;
    int32_t m_streamHandle = 0;
    bool m_portOpen = false;
    scoutrix::DeviceRecord m_device;
    scoutrix::CameraSettings m_settings;
};
