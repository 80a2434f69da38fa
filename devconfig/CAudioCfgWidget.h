#pragma once
// The audio page of one logged-in camera: compression and the two volumes
// (command 190). What is read and what a save sends is decided by
// AudioSettings; this widget shows it and hands back what the user picks.

#include <QWidget>

#include "AudioSettings.h"
#include "DeviceRecords.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

class CAudioCfgWidget final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CAudioCfgWidget)

public:
    explicit CAudioCfgWidget(QWidget *parent = nullptr);
    ~CAudioCfgWidget() override;

    // Switches the page to |device| and reads its settings at once.
    void setDevice(const scoutrix::DeviceRecord &device);

    bool SetParamToWnd();
    bool SetWndToParam();

    const scoutrix::AudioSettings &settings() const { return m_settings; }
    int32_t loginHandle() const { return m_loginHandle; }

signals:
    void sig_SetAudioResult(int Result, long loginID);

public slots:
    void slot_GetDevConfig();
    void slot_SaveDevConfig();
    void slot_OutPutVolumeText(int value);
    void slot_InVolumeText(int value);

private:
    void setTexts();
    void showReadFailure();
    void logSave(int32_t result, const scoutrix::AudioRecord &before, const scoutrix::AudioRecord &after);

    QWidget *m_form = nullptr;
    QLabel *m_labEncode = nullptr;
    QLabel *m_labOutPut = nullptr;
    QLabel *m_labIn = nullptr;
    QComboBox *m_cmbEncodeType = nullptr;
    QSlider *m_sldOutputVolume = nullptr;
    QSlider *m_sldInVolume = nullptr;
    QLabel *m_labOutNum = nullptr;
    QLabel *m_labInNum = nullptr;
    QLabel *m_readMessage = nullptr;
    QPushButton *m_btnSave = nullptr;
    QPushButton *m_btnCancel = nullptr;

    int32_t m_loginHandle = 0;
    scoutrix::DeviceRecord m_device;
    scoutrix::AudioSettings m_settings;
    // The controls' values as the last read set them.
    scoutrix::AudioValues m_wanted;
};
