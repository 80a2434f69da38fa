#include "CEncodeCfgWidget.h"
#include "ui_CEncodeCfgWidget.h"

#include <QButtonGroup>
#include <QDebug>
#include <QPixmap>
#include <QSignalBlocker>

#include <algorithm>
#include <cstring>

#include "ActivityLog.h"
#include "AppPaths.h"
#include "CMultiLanguage.h"
#include "ConfigPageLogic.h"
#include "ConfigRecords.h"
#include "EncodeChanges.h"
#include "NetSdk.h"
#include "ResultTexts.h"

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
    // Before the children exist: a list's drop-down made under the sheets of
    // the pages around it alone keeps their light rows.
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Encode.qss")));
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

    // What the device holds beyond its limits is said under each stream.
    m_noteMain = new QLabel(m_ui->groupMain);
    m_noteMain->setObjectName(QStringLiteral("labOverMain"));
    m_ui->groupMainGrid->addWidget(m_noteMain, 8, 0, 1, 3);
    m_noteSub = new QLabel(m_ui->groupSub);
    m_noteSub->setObjectName(QStringLiteral("labOverSub"));
    m_ui->groupSubGrid->addWidget(m_noteSub, 8, 0, 1, 3);
    m_readMessage = new QLabel(this);
    m_readMessage->setObjectName(QStringLiteral("labReadError"));
    m_readMessage->setAlignment(Qt::AlignCenter);
    m_ui->encodeLayout->insertWidget(0, m_readMessage);
    for (QLabel *l : {m_noteMain, m_noteSub, m_readMessage}) {
        l->setTextFormat(Qt::PlainText);
        l->setWordWrap(true);
        l->hide();
    }
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
                m_ui->m_ckAudio,       m_noteMain};
    return {m_ui->m_cmbSubStream,     m_ui->m_cmbFramesize_2, m_subControl,         m_ui->m_btnSubCBR,
            m_ui->m_btnSubVBR,        m_ui->m_sliderFPS_2,    m_ui->m_labFPS_2,     m_ui->m_editISecond_2,
            m_ui->m_sliderSubQuality, m_ui->m_labsubQuality,  m_ui->m_cmbBitRate_2, m_ui->m_ckVideo_2,
            m_ui->m_ckAudio_2,        m_noteSub};
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
    // After the first failure the rest is not asked for: a device that does
    // not answer would hold the window for a timeout per record.
    int32_t failure = 0;
    auto read = [&failure](auto &&get) {
        if (failure == 0) {
            const int32_t result = get();
            if (result < 0)
                failure = result;
        }
    };
    read([&] { return getConfig(handle, scoutrix::CmdEncodeCaps, -1, device->caps); });
    read([&] { return getConfig(handle, scoutrix::CmdEncodeTable, -1, device->table); });
    scoutrix::VideoStandard standard;
    std::memset(&standard, 0, sizeof standard);
    read([&] { return getConfig(handle, scoutrix::CmdVideoStandard, -1, standard); });
    device->ntsc = standard.isNtsc();
    scoutrix::DeviceInfoRecord info;
    std::memset(&info, 0, sizeof info);
    read([&] { return getConfig(handle, scoutrix::CmdDeviceInfo, 0, info); });
    if (failure == 0 && scoutrix::ResolutionTable::deviceListApplies(info.buildTimeText())) {
        auto list = std::make_unique<scoutrix::ResolutionList>();
        read([&] { return getConfig(handle, scoutrix::CmdResolutionList, -1, *list); });
        device->resolutions = scoutrix::ResolutionTable::fromDevice(*list);
    } else {
        device->resolutions = scoutrix::ResolutionTable::fixed(device->ntsc,
                                                               m_device.loginInfo.loginDeviceType());
    }

    // A form built from what did not arrive would show zeros, and a save
    // would write them over the device's settings.
    m_readError = failure;
    m_tableRead = failure == 0;
    if (failure != 0) {
        qDebug() << "encode settings not read, nRet = " << failure;
        m_budget->load(*std::make_unique<EncodeBudget::Device>());
        m_lastWritten.reset();
        showReadFailure(failure);
        return;
    }

    device->channelCount = m_device.loginInfo.videoChannelCount();
    device->audioChannelCount = m_device.loginInfo.audioChannelCount();
    device->offerAllFlag = m_device.loginInfo.word(scoutrix::LoginInfo::AllChannelsFlag) != 0;
    m_budget->load(*device);
    m_lastWritten = std::make_unique<scoutrix::EncodeTable>(device->table);

    showForm(true);
    fillChannelList();
    fillEncodeTypes(StreamKind::Main);
    fillEncodeTypes(StreamKind::Sub);
    showStreams();
    m_ui->m_btnSave->setEnabled(true);
}

void CEncodeCfgWidget::showForm(bool shown)
{
    for (QWidget *w : {static_cast<QWidget *>(m_ui->labChannel), static_cast<QWidget *>(m_ui->m_cmbChannel),
                       static_cast<QWidget *>(m_ui->groupMain), static_cast<QWidget *>(m_ui->groupSub),
                       static_cast<QWidget *>(m_ui->m_btnSave)})
        w->setVisible(shown);
    m_readMessage->setVisible(!shown);
}

void CEncodeCfgWidget::showReadFailure(int32_t result)
{
    for (QComboBox *c : {m_ui->m_cmbChannel, m_ui->m_cmbEncodeType, m_ui->m_cmbSubStream,
                         m_ui->m_cmbFramesize, m_ui->m_cmbFramesize_2, m_ui->m_cmbBitRate,
                         m_ui->m_cmbBitRate_2}) {
        QSignalBlocker block(c);
        c->clear();
    }
    m_ui->m_btnSave->setEnabled(false);
    const QString text = result == ResultTexts::CodeTimeout
        ? CMultiLanguage::text(QStringLiteral("Encode.ReadTimeout"))
        : CMultiLanguage::text(QStringLiteral("Encode.ReadFailed")).arg(result);
    m_readMessage->setText(text);
    showForm(false);
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

    const scoutrix::ResolutionTable &table = m_budget->resolutions();
    w.resolution->clear();
    for (int r : v.resolutions)
        w.resolution->addItem(QString::fromStdString(table.at(r).name), r);
    // The device's own resolution is shown as read even where it is not offered.
    if (!v.resolutionOffered && scoutrix::ResolutionTable::valid(v.resolution))
        w.resolution->addItem(QString::fromStdString(table.at(v.resolution).name), v.resolution);
    w.resolution->setCurrentIndex(w.resolution->findData(v.resolution));

    w.frameRate->setRange(1, std::max(v.maxFrameRate, v.frameRate));
    w.frameRate->setValue(v.frameRate);
    w.frameRateText->setText(QString::number(w.frameRate->value()));
    (v.vbr ? w.vbr : w.cbr)->setChecked(true);
    w.quality->setRange(kQualityMin, std::max(v.maxQuality, std::clamp(v.quality, kQualityMin, kQualityMax)));
    w.quality->setValue(v.quality);
    w.qualityText->setText(QString::number(w.quality->value()));
    w.iFrame->setText(QString::number(v.iFrameInterval));
    w.encodeType->setCurrentIndex(w.encodeType->findData(v.encodeType));

    w.bitRate->clear();
    for (const auto &item : v.bitRates)
        w.bitRate->addItem(QString::number(item.value), item.grade);
    const QString rate = QString::number(v.bitRate);
    // A rate that is no grade (or above the cap) is shown as read; it has no grade.
    if (w.bitRate->findText(rate) < 0 && v.bitRate > 0)
        w.bitRate->addItem(rate, -1);
    w.bitRate->setCurrentIndex(w.bitRate->findText(rate));

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

    QStringList over;
    if (!v.resolutionOffered)
        over << CMultiLanguage::text(QStringLiteral("Encode.OverResolution"));
    if (v.frameRateOver && v.frameRate > v.maxFrameRate)
        over << CMultiLanguage::text(QStringLiteral("Encode.OverFrameRate")).arg(v.frameRate).arg(v.maxFrameRate);
    else if (v.frameRateOver)
        over << CMultiLanguage::text(QStringLiteral("Encode.OverPixelRate"));
    if (v.bitRateOver && v.bitRateCap)
        over << CMultiLanguage::text(QStringLiteral("Encode.OverBitRate"))
                    .arg(m_budget->shownRecord().main.bitRate())
                    .arg(qint64(*v.bitRateCap));
    w.note->setText(over.isEmpty() ? QString()
                                   : CMultiLanguage::text(QStringLiteral("Encode.KeptAsRead")).arg(over.join(QStringLiteral("; "))));
    w.note->setVisible(!over.isEmpty());
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
    widgets(kind).qualityText->setText(QString::number(value));
    m_budget->setQuality(kind, value);
    // The grade may have been held within the cap; the widgets follow.
    showStream(kind);
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
    const int rate = list->itemText(index).toInt();
    // Item data is the grade: grades above the cap are missing from the
    // list, so the row number is not the grade. The rate as read has none.
    if (grade.toInt() >= 0)
        m_budget->setQuality(StreamKind::Main, grade.toInt() + 1);
    m_budget->setBitRate(StreamKind::Main, rate);
    showStream(StreamKind::Main);
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
    logSave(result);
    emit sig_SetEncodeResult(result, long(m_device.loginHandle));
}

void CEncodeCfgWidget::logSave(int32_t result)
{
    ActivityEntry entry = scoutrix::activityEntryFor(m_device, ResultTexts::OpEncode);
    if (m_lastWritten) {
        const scoutrix::EncodeChangeText change = scoutrix::describeChanges(
            *m_lastWritten, m_budget->table(), m_budget->channelCount(), m_budget->resolutions());
        entry.oldValue = QString::fromStdString(change.before);
        entry.newValue = QString::fromStdString(change.after);
    }
    // The table was still written: say so rather than leave the change blank.
    if (entry.oldValue.isEmpty() && entry.newValue.isEmpty())
        entry.newValue = CMultiLanguage::text(QStringLiteral("Saved unchanged"));
    entry.result = result;
    ActivityLog::instance().append(entry);
    // What the device now holds is what the next save is compared with.
    if (scoutrix::setTaken(result))
        m_lastWritten = std::make_unique<scoutrix::EncodeTable>(m_budget->table());
}
