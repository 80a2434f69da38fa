#include "CEncodeCfgWidget.h"
#include "ui_CEncodeCfgWidget.h"

#include <QButtonGroup>
#include <QDebug>
#include <QPixmap>
#include <QSignalBlocker>

#include <cstring>

#include "AppPaths.h"
#include "CMultiLanguage.h"
#include "ConfigRecords.h"
#include "NetSdk.h"

using scoutrix::EncodeBudget;
using scoutrix::StreamKind;

namespace {

constexpr int kTimeoutMs = 1000;
constexpr int kQualityMin = 1;
constexpr int kQualityMax = 6;

template<typename Record>
int32_t getConfig(int32_t handle, int32_t command, int32_t channel, Record &record)
{
    std::memset(&record, 0, sizeof record);
    int32_t bytes = 0;
    return NetSdk_GetConfig(handle, command, channel, &record, int32_t(sizeof record), &bytes, kTimeoutMs);
}

} // namespace

CEncodeCfgWidget::CEncodeCfgWidget(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::CEncodeCfgWidget>())
    , m_budget(std::make_unique<EncodeBudget>())
{
    std::memset(&m_device, 0, sizeof m_device);
    m_ui->setupUi(this);

    m_mainControl = new QButtonGroup(this);
    m_mainControl->addButton(m_ui->m_btnCBR, 0);
    m_mainControl->addButton(m_ui->m_btnVBR, 1);
    m_subControl = new QButtonGroup(this);
    m_subControl->addButton(m_ui->m_btnSubCBR, 0);
    m_subControl->addButton(m_ui->m_btnSubVBR, 1);

    for (QSlider *s : {m_ui->m_sliderQuality, m_ui->m_sliderSubQuality}) {
        s->setRange(kQualityMin, kQualityMax);
        s->setPageStep(1);
    }
    for (QSlider *s : {m_ui->m_sliderFPS, m_ui->m_sliderFPS_2}) {
        s->setMinimum(1);
        s->setSingleStep(1);
    }
    m_ui->m_cmbChannel->setIconSize(QSize(1, 24));
    m_ui->m_ckVideo->setEnabled(false);
    setTexts();

    connect(m_ui->m_cmbChannel, qOverload<int>(&QComboBox::activated), this,
            &CEncodeCfgWidget::slot_acitveChannel);
    connect(m_ui->m_cmbEncodeType, qOverload<int>(&QComboBox::activated), this,
            &CEncodeCfgWidget::slot_acitveEncodeType);
    connect(m_ui->m_cmbSubStream, qOverload<int>(&QComboBox::activated), this,
            &CEncodeCfgWidget::slot_acitveSubEncodeType);
    connect(m_ui->m_cmbFramesize, qOverload<int>(&QComboBox::activated), this,
            &CEncodeCfgWidget::slot_activeMainFramesize);
    connect(m_ui->m_cmbFramesize_2, qOverload<int>(&QComboBox::activated), this,
            &CEncodeCfgWidget::slot_activeSubFramesize);
    connect(m_ui->m_sliderFPS, &QSlider::sliderReleased, this, &CEncodeCfgWidget::slot_sliderMainFPS);
    connect(m_ui->m_sliderFPS_2, &QSlider::sliderReleased, this, &CEncodeCfgWidget::slot_sliderSubFPS);
    connect(m_ui->m_sliderFPS, &QSlider::valueChanged, this, &CEncodeCfgWidget::slot_FPSsetText);
    connect(m_ui->m_sliderFPS_2, &QSlider::valueChanged, this, &CEncodeCfgWidget::slot_SubFPSsetText);
    connect(m_ui->m_sliderQuality, &QSlider::valueChanged, this, &CEncodeCfgWidget::slot_QualitysetText);
    connect(m_ui->m_sliderSubQuality, &QSlider::valueChanged, this,
            &CEncodeCfgWidget::slot_SubQualitysetText);
    connect(m_mainControl, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            slot_checkedMainBitControl();
    });
    connect(m_subControl, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            slot_checkedSubBitControl();
    });
    connect(m_ui->m_ckVideo_2, &QCheckBox::stateChanged, this, &CEncodeCfgWidget::slot_checkedSubVideo);
    connect(m_ui->m_ckAudio, &QCheckBox::stateChanged, this, &CEncodeCfgWidget::slot_checkedMainAudio);
    connect(m_ui->m_ckAudio_2, &QCheckBox::stateChanged, this, &CEncodeCfgWidget::slot_checkedSubAudio);
    connect(m_ui->m_cmbBitRate, qOverload<int>(&QComboBox::activated), this,
            &CEncodeCfgWidget::slot_acitveMainBitRate);
    connect(m_ui->m_cmbBitRate_2, qOverload<int>(&QComboBox::activated), this,
            &CEncodeCfgWidget::slot_acitveSubBitRate);
    connect(m_ui->m_editISecond, &QLineEdit::editingFinished, this, [this] { changeIFrame(StreamKind::Main); });
    connect(m_ui->m_editISecond_2, &QLineEdit::editingFinished, this, [this] { changeIFrame(StreamKind::Sub); });
    connect(m_ui->m_btnSave, &QPushButton::clicked, this, &CEncodeCfgWidget::slot_SetDevConfig);
}

CEncodeCfgWidget::~CEncodeCfgWidget() = default;

void CEncodeCfgWidget::setTexts()
{
    m_ui->labChannel->setText(CMultiLanguage::text(QStringLiteral("Channel")));
    m_ui->groupMain->setTitle(CMultiLanguage::text(QStringLiteral("MainStream")));
    m_ui->groupSub->setTitle(CMultiLanguage::text(QStringLiteral("SubStream")));
    for (QLabel *l : {m_ui->labEncodeType, m_ui->labEncodeType_2})
        l->setText(CMultiLanguage::text(QStringLiteral("Encode Type")));
    for (QLabel *l : {m_ui->labFramesize, m_ui->labFramesize_2})
        l->setText(CMultiLanguage::text(QStringLiteral("Resolution")));
    for (QLabel *l : {m_ui->labBitControl, m_ui->labBitControl_2})
        l->setText(CMultiLanguage::text(QStringLiteral("BitControl")));
    for (QLabel *l : {m_ui->labFrameRate, m_ui->labFrameRate_2})
        l->setText(CMultiLanguage::text(QStringLiteral("Frame Rate")));
    for (QLabel *l : {m_ui->labIframe, m_ui->labIframe_2})
        l->setText(CMultiLanguage::text(QStringLiteral("Iframe")));
    for (QLabel *l : {m_ui->labQuality, m_ui->labQuality_2})
        l->setText(CMultiLanguage::text(QStringLiteral("Quality")));
    for (QLabel *l : {m_ui->labBitRate, m_ui->labBitRate_2})
        l->setText(CMultiLanguage::text(QStringLiteral("BitRate")));
    for (QLabel *l : {m_ui->labVideoAudio, m_ui->labVideoAudio_2})
        l->setText(CMultiLanguage::text(QStringLiteral("Video/Audio")));
    for (QRadioButton *b : {m_ui->m_btnCBR, m_ui->m_btnSubCBR})
        b->setText(CMultiLanguage::text(QStringLiteral("CBR")));
    for (QRadioButton *b : {m_ui->m_btnVBR, m_ui->m_btnSubVBR})
        b->setText(CMultiLanguage::text(QStringLiteral("VBR")));
    for (QCheckBox *c : {m_ui->m_ckVideo, m_ui->m_ckVideo_2})
        c->setText(CMultiLanguage::text(QStringLiteral("Video")));
    for (QCheckBox *c : {m_ui->m_ckAudio, m_ui->m_ckAudio_2})
        c->setText(CMultiLanguage::text(QStringLiteral("Audio")));
    m_ui->m_btnSave->setText(CMultiLanguage::text(QStringLiteral("Save")));
}

CEncodeCfgWidget::StreamWidgets CEncodeCfgWidget::widgets(StreamKind kind) const
{
    if (kind == StreamKind::Main)
        return {m_ui->m_cmbEncodeType, m_ui->m_cmbFramesize, m_mainControl,       m_ui->m_btnCBR,
                m_ui->m_btnVBR,        m_ui->m_sliderFPS,    m_ui->m_labFPS,      m_ui->m_editISecond,
                m_ui->m_sliderQuality, m_ui->m_labQuality,   m_ui->m_cmbBitRate,  m_ui->m_ckVideo,
                m_ui->m_ckAudio};
    return {m_ui->m_cmbSubStream,     m_ui->m_cmbFramesize_2, m_subControl,         m_ui->m_btnSubCBR,
            m_ui->m_btnSubVBR,        m_ui->m_sliderFPS_2,    m_ui->m_labFPS_2,     m_ui->m_editISecond_2,
            m_ui->m_sliderSubQuality, m_ui->m_labsubQuality,  m_ui->m_cmbBitRate_2, m_ui->m_ckVideo_2,
            m_ui->m_ckAudio_2};
}

void CEncodeCfgWidget::setDevice(const scoutrix::DeviceRecord &device)
{
    m_device = device;
    readDevice();
    emit sig_StopMove();
}

void CEncodeCfgWidget::readDevice()
{
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Encode.qss")));
    m_ui->m_ckVideo->setEnabled(false);

    const int32_t handle = m_device.loginHandle;
    auto device = std::make_unique<EncodeBudget::Device>();
    getConfig(handle, scoutrix::CmdEncodeCaps, -1, device->caps);
    const int32_t tableResult = getConfig(handle, scoutrix::CmdEncodeTable, -1, device->table);
    scoutrix::VideoStandard standard;
    getConfig(handle, scoutrix::CmdVideoStandard, -1, standard);
    device->ntsc = standard.isNtsc();
    // The other reads show whatever arrived; a table that did not arrive
    // would be written back as zeros over the device's settings.
    m_tableRead = tableResult >= 0;
    if (!m_tableRead)
        qDebug() << "encode table not read, nRet = " << tableResult;

    scoutrix::DeviceInfoRecord info;
    getConfig(handle, scoutrix::CmdDeviceInfo, 0, info);
    if (scoutrix::ResolutionTable::deviceListApplies(info.buildTimeText())) {
        auto list = std::make_unique<scoutrix::ResolutionList>();
        getConfig(handle, scoutrix::CmdResolutionList, -1, *list);
        device->resolutions = scoutrix::ResolutionTable::fromDevice(*list);
    } else {
        device->resolutions = scoutrix::ResolutionTable::fixed(device->ntsc,
                                                               m_device.loginInfo.loginDeviceType());
    }
    device->channelCount = m_device.loginInfo.videoChannelCount();
    device->audioChannelCount = m_device.loginInfo.audioChannelCount();
    device->offerAllFlag = m_device.loginInfo.word(scoutrix::LoginInfo::AllChannelsFlag) != 0;
    m_budget->load(*device);

    fillChannelList();
    fillEncodeTypes(StreamKind::Main);
    fillEncodeTypes(StreamKind::Sub);
    showStreams();
    m_ui->m_btnSave->setEnabled(m_tableRead);
}

void CEncodeCfgWidget::fillChannelList()
{
    QComboBox *list = m_ui->m_cmbChannel;
    QSignalBlocker block(list);
    list->clear();
    // The blank icon only gives the rows their height.
    QPixmap blank(1, 24);
    blank.fill(Qt::transparent);
    const QIcon rowIcon(blank);
    const QString channel = CMultiLanguage::text(QStringLiteral("Channel"));
    for (int i = 0; i < m_budget->channelCount(); ++i)
        list->addItem(rowIcon, QStringLiteral("%1%2").arg(channel).arg(i + 1), i);
    if (m_budget->offersAll())
        list->addItem(rowIcon, CMultiLanguage::text(QStringLiteral("All")), m_budget->allChannel());
    list->setCurrentIndex(0);
}

void CEncodeCfgWidget::fillEncodeTypes(StreamKind kind)
{
    QComboBox *list = widgets(kind).encodeType;
    QSignalBlocker block(list);
    list->clear();
    for (int type : m_budget->encodeTypes(kind))
        list->addItem(QString::fromLatin1(scoutrix::encodeTypeName(type)), type);
}

void CEncodeCfgWidget::showStreams()
{
    showStream(StreamKind::Main);
    showStream(StreamKind::Sub);
}

void CEncodeCfgWidget::showStream(StreamKind kind)
{
    const scoutrix::StreamView v = m_budget->show(kind);
    const StreamWidgets w = widgets(kind);
    const QSignalBlocker blockers[] = {
        QSignalBlocker(w.encodeType), QSignalBlocker(w.resolution), QSignalBlocker(w.bitControl),
        QSignalBlocker(w.cbr),        QSignalBlocker(w.vbr),        QSignalBlocker(w.frameRate),
        QSignalBlocker(w.iFrame),     QSignalBlocker(w.quality),    QSignalBlocker(w.bitRate),
        QSignalBlocker(w.video),      QSignalBlocker(w.audio),
    };

    w.resolution->clear();
    for (int r : v.resolutions)
        w.resolution->addItem(QString::fromStdString(m_budget->resolutions().at(r).name), r);
    w.resolution->setCurrentIndex(w.resolution->findData(v.resolution));

    w.frameRate->setRange(1, v.maxFrameRate);
    w.frameRate->setValue(v.frameRate);
    w.frameRateText->setText(QString::number(w.frameRate->value()));
    (v.vbr ? w.vbr : w.cbr)->setChecked(true);
    w.quality->setValue(v.quality);
    w.qualityText->setText(QString::number(w.quality->value()));
    w.iFrame->setText(QString::number(v.iFrameInterval));
    w.encodeType->setCurrentIndex(w.encodeType->findData(v.encodeType));

    w.bitRate->clear();
    for (const auto &item : v.bitRates)
        w.bitRate->addItem(QString::number(item.value), item.grade);
    w.bitRate->setCurrentIndex(w.bitRate->findText(QString::number(v.bitRate)));

    w.video->setChecked(v.videoOn);
    w.audio->setChecked(v.audioOn);

    const bool on = v.controlsEnabled;
    for (QWidget *c : {static_cast<QWidget *>(w.encodeType), static_cast<QWidget *>(w.resolution),
                       static_cast<QWidget *>(w.cbr), static_cast<QWidget *>(w.vbr),
                       static_cast<QWidget *>(w.frameRate), static_cast<QWidget *>(w.iFrame)})
        c->setEnabled(on);
    w.bitRate->setEnabled(on && v.bitRateEnabled);
    w.quality->setEnabled(on && v.qualityEnabled);
    w.audio->setEnabled(on && m_budget->audioEnabled());
    if (kind == StreamKind::Main)
        w.video->setEnabled(false);
}

scoutrix::StreamEdit CEncodeCfgWidget::editOf(StreamKind kind) const
{
    const StreamWidgets w = widgets(kind);
    scoutrix::StreamEdit e;
    e.encodeType = w.encodeType->currentIndex() >= 0 ? w.encodeType->currentData().toInt() : -1;
    e.resolution = w.resolution->currentIndex() >= 0 ? w.resolution->currentData().toInt() : -1;
    e.bitControl = w.bitControl->checkedId() == 1 ? 1 : 0;
    e.frameRate = w.frameRate->value();
    e.quality = w.quality->value();
    e.bitRate = w.bitRate->currentIndex() >= 0 ? w.bitRate->currentText().toInt() : -1;
    e.iFrameInterval = w.iFrame->text().toInt();
    e.videoOn = w.video->isChecked();
    e.audioOn = w.audio->isChecked();
    return e;
}

void CEncodeCfgWidget::storeShown()
{
    m_budget->store(StreamKind::Main, editOf(StreamKind::Main));
    m_budget->store(StreamKind::Sub, editOf(StreamKind::Sub));
}

int CEncodeCfgWidget::shownResolution(StreamKind kind) const
{
    const QComboBox *list = widgets(kind).resolution;
    if (list->currentIndex() >= 0)
        return list->currentData().toInt();
    const scoutrix::ChannelEncode &record = m_budget->shownRecord();
    return (kind == StreamKind::Main ? record.main : record.sub).resolution();
}

void CEncodeCfgWidget::slot_acitveChannel(int nchannel)
{
    const QVariant data = m_ui->m_cmbChannel->itemData(nchannel);
    if (!data.isValid())
        return;
    storeShown();
    // Picking "All" again must not throw away what was edited under it.
    if (data.toInt() != m_budget->channel())
        m_budget->selectChannel(data.toInt());
    showStreams();
}

void CEncodeCfgWidget::chooseEncodeType(StreamKind kind, int index)
{
    const StreamWidgets w = widgets(kind);
    const QVariant type = w.encodeType->itemData(index);
    if (!type.isValid())
        return;
    m_budget->chooseEncodeType(kind, type.toInt(), shownResolution(kind), w.frameRate->value(),
                               w.quality->value());
    showStreams();
}

void CEncodeCfgWidget::chooseResolution(StreamKind kind, int index)
{
    const StreamWidgets w = widgets(kind);
    const QVariant resolution = w.resolution->itemData(index);
    if (!resolution.isValid())
        return;
    m_budget->chooseResolution(kind, resolution.toInt(), w.frameRate->value(), w.quality->value());
    showStreams();
}

void CEncodeCfgWidget::releaseFrameRate(StreamKind kind)
{
    m_budget->releaseFrameRate(kind, widgets(kind).frameRate->value());
    showStreams();
}

void CEncodeCfgWidget::changeQuality(StreamKind kind, int value)
{
    const StreamWidgets w = widgets(kind);
    w.qualityText->setText(QString::number(value));
    const int rate = m_budget->setQuality(kind, value);
    w.bitRate->setCurrentIndex(w.bitRate->findText(QString::number(rate)));
}

void CEncodeCfgWidget::changeBitControl(StreamKind kind)
{
    m_budget->setBitControl(kind, widgets(kind).bitControl->checkedId());
    showStream(kind);
}

void CEncodeCfgWidget::changeIFrame(StreamKind kind)
{
    m_budget->setIFrameInterval(kind, widgets(kind).iFrame->text().toInt());
    showStream(kind);
}

void CEncodeCfgWidget::slot_acitveEncodeType(int index) { chooseEncodeType(StreamKind::Main, index); }
void CEncodeCfgWidget::slot_acitveSubEncodeType(int index) { chooseEncodeType(StreamKind::Sub, index); }
void CEncodeCfgWidget::slot_activeMainFramesize(int nIndex) { chooseResolution(StreamKind::Main, nIndex); }
void CEncodeCfgWidget::slot_activeSubFramesize(int nIndex) { chooseResolution(StreamKind::Sub, nIndex); }
void CEncodeCfgWidget::slot_sliderMainFPS() { releaseFrameRate(StreamKind::Main); }
void CEncodeCfgWidget::slot_sliderSubFPS() { releaseFrameRate(StreamKind::Sub); }
void CEncodeCfgWidget::slot_FPSsetText(int value) { m_ui->m_labFPS->setText(QString::number(value)); }
void CEncodeCfgWidget::slot_SubFPSsetText(int value) { m_ui->m_labFPS_2->setText(QString::number(value)); }
void CEncodeCfgWidget::slot_QualitysetText(int value) { changeQuality(StreamKind::Main, value); }
void CEncodeCfgWidget::slot_SubQualitysetText(int value) { changeQuality(StreamKind::Sub, value); }
void CEncodeCfgWidget::slot_checkedMainBitControl() { changeBitControl(StreamKind::Main); }
void CEncodeCfgWidget::slot_checkedSubBitControl() { changeBitControl(StreamKind::Sub); }

void CEncodeCfgWidget::slot_checkedSubVideo(int state)
{
    m_budget->setSubVideo(state == Qt::Checked);
    showStreams();
}

void CEncodeCfgWidget::slot_checkedMainAudio(int state)
{
    m_budget->setAudio(StreamKind::Main, state == Qt::Checked, m_ui->m_ckVideo->isChecked());
}

void CEncodeCfgWidget::slot_checkedSubAudio(int state)
{
    m_budget->setAudio(StreamKind::Sub, state == Qt::Checked, m_ui->m_ckVideo_2->isChecked());
}

void CEncodeCfgWidget::slot_acitveMainBitRate(int index)
{
    QComboBox *list = m_ui->m_cmbBitRate;
    const QVariant grade = list->itemData(index);
    if (!grade.isValid())
        return;
    // Item data is the grade: grades above the cap are missing from the
    // list, so the row number is not the grade.
    m_ui->m_sliderQuality->setValue(grade.toInt() + 1);
    list->setCurrentIndex(index);
    m_budget->setBitRate(StreamKind::Main, list->itemText(index).toInt());
}

void CEncodeCfgWidget::slot_acitveSubBitRate(int index)
{
    const QString text = m_ui->m_cmbBitRate_2->itemText(index);
    if (!text.isEmpty())
        m_budget->setBitRate(StreamKind::Sub, text.toInt());
}

void CEncodeCfgWidget::slot_SetDevConfig()
{
    if (!m_tableRead)
        return;
    storeShown();
    m_budget->prepareSave();
    const int32_t result = NetSdk_SetConfig(m_device.loginHandle, scoutrix::CmdEncodeTable, -1,
                                            &m_budget->table(), int32_t(sizeof(scoutrix::EncodeTable)),
                                            kTimeoutMs);
    qDebug() << "nRet = " << result;
    emit sig_SetEncodeResult(result, long(m_device.loginHandle));
}
