#pragma once
// The encode page: main and sub stream of one channel (or of all channels),
// read from a logged-in device and written back for all channels in one
// request. The budget arithmetic lives in EncodeBudget; this widget only
// shows what it computes and hands it what the user picks.

#include <QWidget>

#include <memory>

#include "DeviceRecords.h"
#include "EncodeBudget.h"

namespace Ui {
class CEncodeCfgWidget;
}

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSlider;

class CEncodeCfgWidget final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CEncodeCfgWidget)

public:
    explicit CEncodeCfgWidget(QWidget *parent = nullptr);
    ~CEncodeCfgWidget() override;

    // Takes a copy of the record, reads the device and emits sig_StopMove().
    void setDevice(const scoutrix::DeviceRecord &device);

    const scoutrix::EncodeBudget &budget() const { return *m_budget; }
    const scoutrix::DeviceRecord &device() const { return m_device; }
    // The result of the first read that failed, 0 when everything was read.
    int readError() const { return m_readError; }

signals:
    void sig_StopMove();
    void sig_SetEncodeResult(int Result, long loginID);

public slots:
    void slot_acitveChannel(int nchannel);
    void slot_acitveEncodeType(int index);
    void slot_acitveSubEncodeType(int index);
    void slot_activeMainFramesize(int nIndex);
    void slot_activeSubFramesize(int nIndex);
    void slot_sliderMainFPS();
    void slot_sliderSubFPS();
    void slot_FPSsetText(int value);
    void slot_SubFPSsetText(int value);
    void slot_QualitysetText(int value);
    void slot_SubQualitysetText(int value);
    void slot_checkedMainBitControl();
    void slot_checkedSubBitControl();
    void slot_checkedSubVideo(int state);
    void slot_checkedMainAudio(int state);
    void slot_checkedSubAudio(int state);
    void slot_acitveMainBitRate(int index);
    void slot_acitveSubBitRate(int index);
    void slot_SetDevConfig();

private:
    struct StreamWidgets
    {
        QComboBox *encodeType;
        QComboBox *resolution;
        QButtonGroup *bitControl;
        QRadioButton *cbr;
        QRadioButton *vbr;
        QSlider *frameRate;
        QLabel *frameRateText;
        QLineEdit *iFrame;
        QSlider *quality;
        QLabel *qualityText;
        QComboBox *bitRate;
        QCheckBox *video;
        QCheckBox *audio;
        QLabel *note;
    };

    void setTexts();
    void showReadFailure(int32_t result);
    void showForm(bool shown);
    void logSave(int32_t result);
    void connectStream(scoutrix::StreamKind kind);
    void readDevice();
    void fillChannelList();
    void fillEncodeTypes(scoutrix::StreamKind kind);
    void showStream(scoutrix::StreamKind kind);
    void showStreams();
    void storeShown();
    scoutrix::StreamEdit editOf(scoutrix::StreamKind kind) const;
    int shownResolution(scoutrix::StreamKind kind) const;
    void chooseEncodeType(scoutrix::StreamKind kind, int index);
    void chooseResolution(scoutrix::StreamKind kind, int index);
    void releaseFrameRate(scoutrix::StreamKind kind);
    void changeQuality(scoutrix::StreamKind kind, int value);
    void changeBitControl(scoutrix::StreamKind kind);
    void changeIFrame(scoutrix::StreamKind kind);
    StreamWidgets widgets(scoutrix::StreamKind kind) const;

    std::unique_ptr<Ui::CEncodeCfgWidget> m_ui;
    std::unique_ptr<scoutrix::EncodeBudget> m_budget;
    scoutrix::DeviceRecord m_device;
    QButtonGroup *m_mainControl = nullptr;
    QButtonGroup *m_subControl = nullptr;
    QLabel *m_noteMain = nullptr;
    QLabel *m_noteSub = nullptr;
    QLabel *m_readMessage = nullptr;
    // A table that could not be read is never written back.
    bool m_tableRead = false;
    int m_readError = 0;
    // The table as the device last held it, to tell the log what a save changed.
    std::unique_ptr<scoutrix::EncodeTable> m_lastWritten;
};
