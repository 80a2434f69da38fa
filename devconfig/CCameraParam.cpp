#include "CCameraParam.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstring>

#include "ActivityLog.h"
#include "AppPaths.h"
#include "CMultiLanguage.h"
#include "ConfigPageLogic.h"
#include "CViewWnd.h"
#include "NetSdk.h"
#include "PlaySdk.h"
#include "PlaySdkControl.h"
#include "ResultTexts.h"

using scoutrix::CameraSettings;
using scoutrix::CameraValues;

namespace {

constexpr int kTimeoutMs = 1000;
constexpr int32_t kPlayerPort = 0;
constexpr int32_t kPlayerBuffer = 7680000;
// Channel 0, sub stream: the preview needs no more than the small picture.
constexpr int32_t kStreamRequest[4] = { 0, 1, 0, 0 };

QLabel *caption(const char *name, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QLabel *valueLabel(const char *name, QWidget *parent)
{
    QLabel *l = caption(name, parent);
    l->setMinimumWidth(32);
    return l;
}

QComboBox *list(const char *name, QWidget *parent)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setIconSize(QSize(1, 24));
    return c;
}

QSlider *slider(const char *name, int low, int high, QWidget *parent)
{
    auto *s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(low, high);
    s->setPageStep(1);
    return s;
}

QCheckBox *checkBox(const char *name, QWidget *parent)
{
    auto *c = new QCheckBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    return c;
}

// Items by language key, with the list position as the value; the blank
// icon only gives the rows their height.
void fill(QComboBox *c, std::initializer_list<const char *> keys, int firstValue = 0)
{
    QSignalBlocker block(c);
    c->clear();
    QPixmap blank(1, 24);
    blank.fill(Qt::transparent);
    int value = firstValue;
    for (const char *key : keys)
        c->addItem(QIcon(blank), CMultiLanguage::text(QString::fromLatin1(key)), value++);
}

void choose(QComboBox *c, int value)
{
    const int at = c->findData(value);
    c->setCurrentIndex(at >= 0 ? at : 0);
}

int chosen(const QComboBox *c) { return c->currentData().toInt(); }

void setShown(std::initializer_list<QWidget *> widgets, bool shown)
{
    for (QWidget *w : widgets)
        w->setVisible(shown);
}

// The waiting cursor while the page talks to the device on the GUI thread.
struct BusyCursor
{
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace

CCameraParam::CCameraParam(QWidget *parent)
    : QWidget(parent)
{
    std::memset(&m_device, 0, sizeof m_device);
    setObjectName(QStringLiteral("CCameraParam"));
    // Before the children exist: a list's drop-down made under the sheets of
    // the pages around it alone keeps their light rows.
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Form.qss"))
                  + AppPaths::readStyleSheet(QStringLiteral("Camera.qss")));

    m_viewArea = new QWidget(this);
    m_viewArea->setObjectName(QStringLiteral("viewArea"));
    m_viewArea->setMinimumHeight(180);
    m_view = new CViewWnd(m_viewArea);
    m_viewArea->installEventFilter(this);

    m_readMessage = caption("labReadError", this);
    m_readMessage->setTextFormat(Qt::PlainText);
    m_readMessage->setWordWrap(true);
    m_readMessage->hide();

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabWidget"));
    auto *general = new QWidget(m_tabs);
    general->setObjectName(QStringLiteral("tabGeneral"));
    auto *isp = new QWidget(m_tabs);
    isp->setObjectName(QStringLiteral("tabISP"));
    m_lightTab = new QWidget(m_tabs);
    m_lightTab->setObjectName(QStringLiteral("tabFillLight"));
    buildGeneralTab(general);
    buildIspTab(isp);
    buildLightTab(m_lightTab);
    m_tabs->addTab(general, QString());
    m_tabs->addTab(isp, QString());
    m_tabs->addTab(m_lightTab, QString());

    m_btnSave = new QPushButton(this);
    m_btnSave->setObjectName(QStringLiteral("m_btnSave"));
    m_btnSave->setEnabled(false);
    m_btnRefresh = new QPushButton(this);
    m_btnRefresh->setObjectName(QStringLiteral("m_btnRefresh"));
    m_notice = caption("labNotice", this);
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->setWordWrap(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_btnSave);
    buttons->addWidget(m_btnRefresh);
    buttons->addWidget(m_notice, 1);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(m_viewArea, 1);
    outer->addWidget(m_readMessage);
    outer->addWidget(m_tabs);
    outer->addLayout(buttons);

    setTexts();

    connect(m_btnSave, &QPushButton::clicked, this, &CCameraParam::slot_save);
    connect(m_btnRefresh, &QPushButton::clicked, this, &CCameraParam::slot_GetDevConfig);
    connect(m_cmbLightMode, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        slot_ChangeLightMode(m_cmbLightMode->itemData(index).toInt());
    });
    connect(m_cmbFLashMode, QOverload<int>::of(&QComboBox::activated), this, &CCameraParam::slot_ChangeFlash);
    connect(m_cmbDimming, QOverload<int>::of(&QComboBox::activated), this, &CCameraParam::slot_ChangeDimming);
    connect(m_sldDnc, &QSlider::valueChanged, this, &CCameraParam::slot_DncsetText);
    connect(m_sldAE, &QSlider::valueChanged, this, &CCameraParam::slot_AEsetText);
    connect(m_sldSensitivity, &QSlider::valueChanged, this, &CCameraParam::slot_SEsetText);
    connect(m_sldLightTime, &QSlider::valueChanged, this, &CCameraParam::slot_LightsetText);
    connect(m_SldLightBrightness, &QSlider::valueChanged, this, &CCameraParam::slot_LightBrightnessText);
    connect(this, &CCameraParam::play, this, &CCameraParam::StartUpPreview);
}

CCameraParam::~CCameraParam()
{
    // Once the stream's callback is cleared nothing of the SDK reaches this
    // page again, so it may go.
    StartUpPreview(false);
}

void CCameraParam::buildGeneralTab(QWidget *tab)
{
    auto *grid = new QGridLayout(tab);
    m_labDayNight = caption("labDayNight", tab);
    m_cmbDayNight = list("cmbDayNight", tab);
    m_labIRCUT = caption("labIRCUT", tab);
    m_cmbIRCUT = list("cmbIRCUT", tab);
    m_labDnc = caption("labDnc", tab);
    m_sldDnc = slider("sldDnc", CameraSettings::DncMin, CameraSettings::DncMax, tab);
    m_Dnclabel = valueLabel("Dnclabel", tab);
    m_labWDR = caption("labWDR", tab);
    m_cmbWDR = list("cmbWDR", tab);
    m_labFocusMode = caption("labFocusMode", tab);
    m_cmbFocusMode = list("cmbFocusMode", tab);
    m_ckbMirror = checkBox("ckbMirror", tab);
    m_ckbRoll = checkBox("ckbRoll", tab);
    m_ckbIRGlassReverse = checkBox("ckbIRGlassReverse", tab);

    grid->addWidget(m_labDayNight, 0, 0);
    grid->addWidget(m_cmbDayNight, 0, 1, 1, 2);
    grid->addWidget(m_labIRCUT, 0, 3);
    grid->addWidget(m_cmbIRCUT, 0, 4, 1, 2);
    grid->addWidget(m_labDnc, 1, 0);
    grid->addWidget(m_sldDnc, 1, 1);
    grid->addWidget(m_Dnclabel, 1, 2);
    grid->addWidget(m_labWDR, 1, 3);
    grid->addWidget(m_cmbWDR, 1, 4, 1, 2);
    grid->addWidget(m_labFocusMode, 2, 0);
    grid->addWidget(m_cmbFocusMode, 2, 1, 1, 2);
    auto *flips = new QHBoxLayout;
    flips->addWidget(m_ckbMirror);
    flips->addWidget(m_ckbRoll);
    flips->addWidget(m_ckbIRGlassReverse);
    flips->addStretch(1);
    grid->addLayout(flips, 3, 0, 1, 6);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(4, 1);
}

void CCameraParam::buildIspTab(QWidget *tab)
{
    auto *grid = new QGridLayout(tab);
    m_labExposure = caption("labExposure", tab);
    m_cmbExposure = list("cmbExposure", tab);
    m_labBackLight = caption("labBackLight", tab);
    m_cmbBackLight = list("cmbBackLight", tab);
    m_labBalance = caption("labBalance", tab);
    m_cmbBalance = list("cmbBalance", tab);
    m_labRejectFlicker = caption("labRejectFlicker", tab);
    m_cmbRejectFlicker = list("cmbRejectFlicker", tab);
    m_labAE = caption("labAE", tab);
    m_sldAE = slider("sldAE", CameraSettings::AeMin, CameraSettings::AeMax, tab);
    m_AElabel = valueLabel("AElabel", tab);
    m_labSensitivity = caption("labSensitivity", tab);
    m_sldSensitivity = slider("sldSensitivity", CameraSettings::SensitivityMin, CameraSettings::SensitivityMax, tab);
    m_SElabel = valueLabel("SElabel", tab);
    m_labDayNoiseGrade = caption("labDayNoiseGrade", tab);
    m_cmbDayNoiseGrade = list("cmbDayNoiseGrade", tab);
    m_labNightNoiseGrade = caption("labNightNoiseGrade", tab);
    m_cmbNightNoiseGrade = list("cmbNightNoiseGrade", tab);

    grid->addWidget(m_labExposure, 0, 0);
    grid->addWidget(m_cmbExposure, 0, 1, 1, 2);
    grid->addWidget(m_labBackLight, 0, 3);
    grid->addWidget(m_cmbBackLight, 0, 4, 1, 2);
    grid->addWidget(m_labBalance, 1, 0);
    grid->addWidget(m_cmbBalance, 1, 1, 1, 2);
    grid->addWidget(m_labRejectFlicker, 1, 3);
    grid->addWidget(m_cmbRejectFlicker, 1, 4, 1, 2);
    grid->addWidget(m_labAE, 2, 0);
    grid->addWidget(m_sldAE, 2, 1);
    grid->addWidget(m_AElabel, 2, 2);
    grid->addWidget(m_labSensitivity, 2, 3);
    grid->addWidget(m_sldSensitivity, 2, 4);
    grid->addWidget(m_SElabel, 2, 5);
    grid->addWidget(m_labDayNoiseGrade, 3, 0);
    grid->addWidget(m_cmbDayNoiseGrade, 3, 1, 1, 2);
    grid->addWidget(m_labNightNoiseGrade, 3, 3);
    grid->addWidget(m_cmbNightNoiseGrade, 3, 4, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(4, 1);
}

void CCameraParam::buildLightTab(QWidget *tab)
{
    auto *grid = new QGridLayout(tab);
    m_labLightType = caption("labLightType", tab);
    m_cmbLightMode = list("cmbLightMode", tab);
    m_labPhotosen = caption("labPhotosen", tab);
    m_cmbPhotosen = list("cmbPhotosen", tab);
    m_labFlashMode = caption("labFlashMode", tab);
    m_cmbFLashMode = list("cmbFLashMode", tab);
    m_labLightTime = caption("labLightTime", tab);
    m_sldLightTime = slider("sldLightTime", CameraSettings::LightTimeMin, CameraSettings::LightTimeMax, tab);
    m_label = valueLabel("label", tab);
    m_labelDimming = caption("labelDimming", tab);
    m_cmbDimming = list("cmbDimming", tab);
    m_labelLightBrightness = caption("labelLightBrightness", tab);
    m_SldLightBrightness
        = slider("SldLightBrightness", CameraSettings::BrightnessMin, CameraSettings::BrightnessMax, tab);
    m_label_2 = valueLabel("label_2", tab);

    grid->addWidget(m_labLightType, 0, 0);
    grid->addWidget(m_cmbLightMode, 0, 1, 1, 2);
    grid->addWidget(m_labPhotosen, 0, 3);
    grid->addWidget(m_cmbPhotosen, 0, 4, 1, 2);
    grid->addWidget(m_labFlashMode, 1, 0);
    grid->addWidget(m_cmbFLashMode, 1, 1, 1, 2);
    grid->addWidget(m_labLightTime, 1, 3);
    grid->addWidget(m_sldLightTime, 1, 4);
    grid->addWidget(m_label, 1, 5);
    grid->addWidget(m_labelDimming, 2, 0);
    grid->addWidget(m_cmbDimming, 2, 1, 1, 2);
    grid->addWidget(m_labelLightBrightness, 2, 3);
    grid->addWidget(m_SldLightBrightness, 2, 4);
    grid->addWidget(m_label_2, 2, 5);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(3, 1);
}

void CCameraParam::setTexts()
{
    const auto t = [](const char *key) { return CMultiLanguage::text(QString::fromLatin1(key)); };
    m_tabs->setTabText(0, t("CameraParam.General"));
    m_tabs->setTabText(1, t("CameraPara.ISP"));
    if (m_tabs->indexOf(m_lightTab) >= 0)
        m_tabs->setTabText(m_tabs->indexOf(m_lightTab), t("CameraPara.FillLight"));
    m_labDayNight->setText(t("CameraPara.DayNight"));
    m_labIRCUT->setText(t("CameraPara.IRCUT"));
    m_labDnc->setText(t("CameraPara.Dnc"));
    m_labWDR->setText(t("CameraPara.WDR"));
    m_labFocusMode->setText(t("CameraPara.FocusMode"));
    m_ckbMirror->setText(t("CameraPara.Mirror"));
    m_ckbRoll->setText(t("CameraPara.Roll"));
    m_ckbIRGlassReverse->setText(t("CameraPara.IRGlassReverse"));
    m_labExposure->setText(t("CameraPara.Exposure"));
    m_labBackLight->setText(t("CameraPara.BackLight"));
    m_labBalance->setText(t("CameraPara.Balance"));
    m_labRejectFlicker->setText(t("CameraPara.RejectFlicker"));
    m_labAE->setText(t("CameraPara.AE"));
    m_labSensitivity->setText(t("CameraPara.Sensitivity"));
    m_labDayNoiseGrade->setText(t("CameraPara.DayNoiseGrade"));
    m_labNightNoiseGrade->setText(t("CameraPara.NightNoiseGrade"));
    m_labLightType->setText(t("CameraPara.LightType"));
    m_labPhotosen->setText(t("CameraPara.Photosen"));
    m_labFlashMode->setText(t("CameraPara.Flash"));
    m_labLightTime->setText(t("CameraPara.LightTime"));
    m_labelDimming->setText(t("CameraPara.Dimming"));
    m_labelLightBrightness->setText(t("CameraPara.LightBrightness"));
    m_btnSave->setText(t("Config.Save"));
    m_btnRefresh->setText(t("Config.Refresh"));
    scoutrix::play::setStalledText(t("Preview.Stalled"));
    fillLists();
}

void CCameraParam::fillLists()
{
    fill(m_cmbDayNight, { "CameraPara.AutoOper", "CameraPara.Colour", "CameraPara.BlackWhite" });
    fill(m_cmbIRCUT, { "CameraPara.SyncSwitch", "CameraPara.AutoSwitch" });
    fill(m_cmbFocusMode, { "CameraPara.AutoOper", "CameraPara.HandOper", "CameraPara.Semiautomatic" });
    fill(m_cmbWDR, { "CameraPara.OFF", "CameraPara.ON" });
    // The last shutter is the fastest; its own text keeps it apart from 1/1000.
    fill(m_cmbExposure, { "CameraPara.AutoOper", "_1/50", "_1/120", "_1/250", "_1/500", "_1/1000", "_1/2000",
                          "_1/4000", "_1/8000" });
    fill(m_cmbBalance, { "CameraPara.AutoOper", "CameraPara.Indoor", "CameraPara.Outdoor" });
    fill(m_cmbRejectFlicker, { "CameraPara.OFF", "CameraPara.ON" });
    fill(m_cmbBackLight, { "CameraPara.OFF", "CameraPara.ON" });
    for (QComboBox *grades : { m_cmbDayNoiseGrade, m_cmbNightNoiseGrade })
        fill(grades, { "CameraPara.AutoOper", "1", "2", "3", "4", "5" });
    fill(m_cmbLightMode, { "CameraPara.Infrared", "CameraPara.FullColor", "CameraPara.Dual" });
    fill(m_cmbPhotosen, { "CameraPara.Hard", "CameraPara.Soft" });
    fill(m_cmbFLashMode, { "CameraPara.InfraredN", "CameraPara.FullColorN", "CameraPara.DualN" });
    fill(m_cmbDimming, { "CameraPara.OFF", "CameraPara.ON" });
}

void CCameraParam::setDevice(const scoutrix::DeviceRecord &device)
{
    const bool previewing = m_streamHandle > 0 || m_portOpen;
    if (previewing)
        StartUpPreview(false);
    m_device = device;
    m_loginHandle = device.loginHandle;
    // Nothing read from the camera before may be shown or saved for this one.
    m_settings = CameraSettings();
    m_notice->clear();
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Form.qss"))
                  + AppPaths::readStyleSheet(QStringLiteral("Camera.qss")));
    setTexts();
    slot_GetDevConfig();
    if (previewing || isVisible())
        StartUpPreview(true);
}

void CCameraParam::slot_GetDevConfig()
{
    m_notice->clear();
    int32_t result = 0;
    {
        BusyCursor busy;
        const int32_t handle = m_loginHandle;
        result = m_settings.read([handle](int32_t command, void *buffer, int32_t size, int32_t *bytes) {
            return NetSdk_GetConfig(handle, command, 0, buffer, size, bytes, kTimeoutMs);
        });
    }
    qDebug() << "camera read:" << result;
    if (result < 0) {
        showReadProblem(result);
        return;
    }
    m_readMessage->hide();
    m_tabs->setEnabled(true);
    m_btnSave->setEnabled(true);
    showSettings();
}

void CCameraParam::showReadProblem(int32_t result)
{
    QString text = result == ResultTexts::CodeTimeout
        ? CMultiLanguage::text(QStringLiteral("Camera.ReadTimeout"))
        : CMultiLanguage::text(QStringLiteral("Camera.ReadFailed")).arg(result);
    if (m_settings.loaded()) {
        // The values on screen are still this camera's, read a moment ago.
        m_notice->setText(text + QLatin1Char(' ') + CMultiLanguage::text(QStringLiteral("Camera.KeptValues")));
        return;
    }
    m_tabs->setEnabled(false);
    m_btnSave->setEnabled(false);
    m_readMessage->setText(text);
    m_readMessage->show();
}

void CCameraParam::showSettings()
{
    const CameraValues v = m_settings.shown();
    setShown({ m_labFocusMode, m_cmbFocusMode }, m_settings.focusOffered());
    setShown({ m_labWDR, m_cmbWDR }, m_settings.wdrOffered());

    choose(m_cmbExposure, v.exposureMode);
    choose(m_cmbBackLight, v.backLight);
    choose(m_cmbBalance, v.balance);
    m_sldAE->setValue(v.ae);
    slot_AEsetText(v.ae);
    m_sldSensitivity->setValue(v.sensitivity);
    slot_SEsetText(v.sensitivity);
    choose(m_cmbRejectFlicker, v.antiFlicker);

    choose(m_cmbDayNight, v.dayNight);
    m_sldDnc->setValue(v.dncSensitivity);
    slot_DncsetText(v.dncSensitivity);
    choose(m_cmbIRCUT, v.irCut);
    choose(m_cmbFocusMode, v.focusMode);
    m_ckbMirror->setChecked(v.mirror);
    m_ckbRoll->setChecked(v.roll);
    m_ckbIRGlassReverse->setChecked(v.irGlassReverse);
    choose(m_cmbWDR, v.wdr);

    choose(m_cmbDayNoiseGrade, v.dayNoiseGrade);
    choose(m_cmbNightNoiseGrade, v.nightNoiseGrade);

    // The light tab belongs to the camera now shown: a camera without fill
    // light has none, the next one with fill light gets it back.
    const int lightIndex = m_tabs->indexOf(m_lightTab);
    if (!m_settings.hasFillLight()) {
        if (lightIndex >= 0)
            m_tabs->removeTab(lightIndex);
        return;
    }
    if (lightIndex < 0)
        m_tabs->addTab(m_lightTab, CMultiLanguage::text(QStringLiteral("CameraPara.FillLight")));
    choose(m_cmbLightMode, v.lightType);
    choose(m_cmbPhotosen, v.photosensitive);
    choose(m_cmbFLashMode, v.flashMode);
    choose(m_cmbDimming, v.dimming);
    m_sldLightTime->setValue(v.lightTime);
    slot_LightsetText(v.lightTime);
    m_SldLightBrightness->setValue(v.brightness);
    slot_LightBrightnessText(v.brightness);
    applyLightControls();
}

CameraValues CCameraParam::values() const
{
    CameraValues v;
    v.dayNight = chosen(m_cmbDayNight);
    v.dncSensitivity = m_sldDnc->value();
    v.irCut = chosen(m_cmbIRCUT);
    v.mirror = m_ckbMirror->isChecked();
    v.roll = m_ckbRoll->isChecked();
    v.irGlassReverse = m_ckbIRGlassReverse->isChecked();
    v.focusMode = chosen(m_cmbFocusMode);
    v.wdr = chosen(m_cmbWDR);
    v.exposureMode = chosen(m_cmbExposure);
    v.balance = chosen(m_cmbBalance);
    v.antiFlicker = chosen(m_cmbRejectFlicker);
    v.sensitivity = m_sldSensitivity->value();
    v.backLight = chosen(m_cmbBackLight);
    v.ae = m_sldAE->value();
    v.dayNoiseGrade = chosen(m_cmbDayNoiseGrade);
    v.nightNoiseGrade = chosen(m_cmbNightNoiseGrade);
    v.lightType = chosen(m_cmbLightMode);
    v.photosensitive = chosen(m_cmbPhotosen);
    v.flashMode = m_cmbFLashMode->currentIndex();
    v.lightTime = m_sldLightTime->value();
    v.brightness = m_SldLightBrightness->value();
    v.dimming = m_cmbDimming->currentIndex();
    return v;
}

void CCameraParam::slot_save()
{
    // Never a record made up from zeros or from another camera.
    if (!m_settings.loaded())
        return;
    m_notice->clear();
    CameraSettings::SaveOutcome outcome;
    {
        BusyCursor busy;
        const int32_t handle = m_loginHandle;
        outcome = m_settings.save(values(), [handle](int32_t command, const void *record, int32_t size) {
            return NetSdk_SetConfig(handle, command, 0, const_cast<void *>(record), size, kTimeoutMs);
        });
    }
    for (const CameraSettings::Write &w : outcome.writes) {
        qDebug() << "camera set" << w.command << "nRet =" << w.result;
        logWrite(w);
    }
    if (outcome.lightRefused) {
        m_notice->setText(CMultiLanguage::text(QStringLiteral("Error.NoSupport")));
        return;
    }
    if (outcome.signalled())
        emit sig_SetCameraResult(outcome.result, long(m_loginHandle));
}

void CCameraParam::logWrite(const CameraSettings::Write &write)
{
    ActivityEntry entry = scoutrix::activityEntryFor(m_device, ResultTexts::OpCamera);
    entry.oldValue = QString::fromStdString(write.before);
    entry.newValue = QString::fromStdString(write.after);
    entry.result = write.result;
    ActivityLog::instance().append(entry);
}

void CCameraParam::applyLightControls()
{
    const scoutrix::LightControls c
        = scoutrix::lightControlsFor(chosen(m_cmbLightMode), m_cmbFLashMode->currentIndex(), m_cmbDimming->currentIndex());
    setShown({ m_labPhotosen, m_cmbPhotosen, m_labFlashMode, m_cmbFLashMode, m_labLightTime, m_sldLightTime, m_label },
             c.dualLight);
    setShown({ m_labelDimming, m_cmbDimming }, c.dimming);
    setShown({ m_labelLightBrightness, m_SldLightBrightness, m_label_2 }, c.brightness);
}

void CCameraParam::slot_ChangeLightMode(int type)
{
    choose(m_cmbLightMode, type);
    applyLightControls();
}

void CCameraParam::slot_ChangeFlash(int flashMode)
{
    if (m_cmbFLashMode->currentIndex() != flashMode)
        m_cmbFLashMode->setCurrentIndex(flashMode);
    applyLightControls();
}

void CCameraParam::slot_ChangeDimming(int dimming)
{
    if (m_cmbDimming->currentIndex() != dimming)
        m_cmbDimming->setCurrentIndex(dimming);
    applyLightControls();
}

void CCameraParam::slot_DncsetText(int value) { m_Dnclabel->setText(QString::number(value)); }
void CCameraParam::slot_AEsetText(int value) { m_AElabel->setText(QString::number(value)); }
void CCameraParam::slot_SEsetText(int value) { m_SElabel->setText(QString::number(value)); }
void CCameraParam::slot_LightsetText(int value) { m_label->setText(QString::number(value)); }
void CCameraParam::slot_LightBrightnessText(int value) { m_label_2->setText(QString::number(value)); }

// ---- live preview ----

void CCameraParam::StartUpPreview(bool bPreview)
{
    if (!bPreview) {
        stopPreview();
        return;
    }
    if (m_portOpen || m_loginHandle <= 0)
        return;
    static const char header = 0;
    if (!PlaySdk_OpenStream(kPlayerPort, &header, 1, kPlayerBuffer)) {
        m_view->setMessage(CMultiLanguage::text(QStringLiteral("Preview.PlayerBusy")));
        return;
    }
    if (!PlaySdk_Play(kPlayerPort, m_view->nativeHandle())) {
        PlaySdk_CloseStream(kPlayerPort);
        m_view->setMessage(CMultiLanguage::text(QStringLiteral("Preview.PlayerBusy")));
        return;
    }
    m_portOpen = true;
    uint8_t request[sizeof kStreamRequest];
    for (std::size_t i = 0; i < 4; ++i)
        scoutrix::writeLe32(request + 4 * i, uint32_t(kStreamRequest[i]));
    const int32_t stream = NetSdk_StartRealStream(m_loginHandle, request, 0);
    qDebug() << "live stream:" << stream;
    if (stream <= 0) {
        // The port goes back at once: the view stays empty and says why.
        PlaySdk_Stop(kPlayerPort);
        PlaySdk_CloseStream(kPlayerPort);
        m_portOpen = false;
        m_view->setMessage(CMultiLanguage::text(QStringLiteral("Preview.NoStream")).arg(stream));
        return;
    }
    m_streamHandle = stream;
    m_view->setMessage(QString());
    NetSdk_SetStreamCallback(m_streamHandle, &CCameraParam::dataCallback, this);
    if (!PlaySdk_SetDecodeCallback(kPlayerPort, &CCameraParam::decodeCallback, this)) {
        // Without the player there is nothing to feed: the stream goes too.
        stopPreview();
        m_view->setMessage(CMultiLanguage::text(QStringLiteral("Preview.PlayerBusy")));
    }
}

void CCameraParam::stopPreview()
{
    if (m_streamHandle > 0) {
        NetSdk_ClearStreamCallback(m_streamHandle, &CCameraParam::dataCallback, this);
        NetSdk_StopRealStream(m_streamHandle);
        m_streamHandle = 0;
    }
    if (m_portOpen) {
        PlaySdk_Stop(kPlayerPort);
        PlaySdk_CloseStream(kPlayerPort);
        m_portOpen = false;
    }
}

int32_t CCameraParam::dataCallback(int32_t, int32_t, char *data, int32_t length, void *user)
{
    // The SDK's thread: only the player is fed, no page state is touched.
    if (!user)
        return -1;
    PlaySdk_InputData(kPlayerPort, data, length);
    return 1;
}

void CCameraParam::decodeCallback(int32_t, char *, int32_t, int32_t, int32_t, int32_t, int32_t, void *)
{
    // The player draws the picture itself.
}

void CCameraParam::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    emit play(true);
}

void CCameraParam::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    emit play(false);
}

bool CCameraParam::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_viewArea && event->type() == QEvent::Resize)
        fitView();
    return QWidget::eventFilter(watched, event);
}

void CCameraParam::fitView()
{
    const auto fitted = scoutrix::fit16by9(m_viewArea->width(), m_viewArea->height());
    const int x = (m_viewArea->width() - fitted.first) / 2;
    const int y = (m_viewArea->height() - fitted.second) / 2;
    m_view->setGeometry(x, y, fitted.first, fitted.second);
}
