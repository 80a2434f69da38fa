#include "CAudioCfgWidget.h"

#include <QComboBox>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cstring>

#include "ActivityLog.h"
#include "AppPaths.h"
#include "CMultiLanguage.h"
#include "ConfigPageLogic.h"
#include "NetSdk.h"
#include "ResultTexts.h"

namespace {

constexpr int kTimeoutMs = 1000;

QLabel *label(const char *name, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QSlider *slider(const char *name, int maximum, QWidget *parent)
{
    auto *s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(0, maximum);
    s->setValue(maximum);
    return s;
}

} // namespace

CAudioCfgWidget::CAudioCfgWidget(QWidget *parent)
    : QWidget(parent)
{
    std::memset(&m_device, 0, sizeof m_device);
    setObjectName(QStringLiteral("CAudioCfgWidget"));
    resize(406, 237);
    // Before the children exist: a list's drop-down made under the sheets of
    // the pages around it alone keeps their light rows.
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Form.qss"))
                  + AppPaths::readStyleSheet(QStringLiteral("Audio.qss")));

    m_form = new QWidget(this);
    m_form->setObjectName(QStringLiteral("layoutWidget"));
    m_form->setMaximumWidth(560);
    auto *grid = new QGridLayout(m_form);
    m_labEncode = label("labEncode", m_form);
    m_labOutPut = label("labOutPut", m_form);
    m_labIn = label("labIn", m_form);
    m_cmbEncodeType = new QComboBox(m_form);
    m_cmbEncodeType->setObjectName(QStringLiteral("cmbEncodeType"));
    m_cmbEncodeType->setIconSize(QSize(1, 24));
    m_sldOutputVolume = slider("sldOutputVolume", scoutrix::AudioSettings::OutputMax, m_form);
    m_sldOutputVolume->setPageStep(1);
    m_sldInVolume = slider("sldInVolume", scoutrix::AudioSettings::InputMax, m_form);
    m_labOutNum = label("labOutNum", m_form);
    m_labOutNum->setText(QStringLiteral("10"));
    m_labInNum = label("labInNum", m_form);
    m_labInNum->setText(QStringLiteral("100"));
    for (QLabel *n : {m_labOutNum, m_labInNum})
        n->setMinimumWidth(32);
    grid->addWidget(m_labEncode, 0, 0);
    grid->addWidget(m_cmbEncodeType, 0, 1, 1, 2);
    grid->addWidget(m_labOutPut, 1, 0);
    grid->addWidget(m_sldOutputVolume, 1, 1);
    grid->addWidget(m_labOutNum, 1, 2);
    grid->addWidget(m_labIn, 2, 0);
    grid->addWidget(m_sldInVolume, 2, 1);
    grid->addWidget(m_labInNum, 2, 2);
    grid->setColumnStretch(1, 1);
    grid->setVerticalSpacing(14);

    // Said instead of the form when the device could not be read.
    m_readMessage = label("labReadError", this);
    m_readMessage->setTextFormat(Qt::PlainText);
    m_readMessage->setWordWrap(true);
    m_readMessage->setAlignment(Qt::AlignCenter);
    m_readMessage->hide();

    m_btnSave = new QPushButton(this);
    m_btnSave->setObjectName(QStringLiteral("btnSave"));
    m_btnCancel = new QPushButton(this);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    m_btnSave->setEnabled(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_btnSave);
    buttons->addWidget(m_btnCancel);
    buttons->addStretch(1);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(m_readMessage);
    outer->addWidget(m_form);
    outer->addLayout(buttons);
    outer->addStretch(1);

    setTexts();

    connect(m_btnSave, &QPushButton::clicked, this, &CAudioCfgWidget::slot_SaveDevConfig);
    connect(m_btnCancel, &QPushButton::clicked, this, &CAudioCfgWidget::slot_GetDevConfig);
    connect(m_sldOutputVolume, &QSlider::valueChanged, this, &CAudioCfgWidget::slot_OutPutVolumeText);
    connect(m_sldInVolume, &QSlider::valueChanged, this, &CAudioCfgWidget::slot_InVolumeText);
}

CAudioCfgWidget::~CAudioCfgWidget() = default;

void CAudioCfgWidget::setTexts()
{
    m_labEncode->setText(CMultiLanguage::text(QStringLiteral("Audio.Compression")));
    m_labOutPut->setText(CMultiLanguage::text(QStringLiteral("Audio.Audio output Volume")));
    m_labIn->setText(CMultiLanguage::text(QStringLiteral("Audio.Audio in Volume")));
    m_btnSave->setText(CMultiLanguage::text(QStringLiteral("Config.Save")));
    m_btnCancel->setText(CMultiLanguage::text(QStringLiteral("Config.Cancel")));

    QSignalBlocker block(m_cmbEncodeType);
    m_cmbEncodeType->clear();
    // The blank icon only gives the rows their height.
    QPixmap blank(1, 24);
    blank.fill(Qt::transparent);
    m_cmbEncodeType->addItem(QIcon(blank), CMultiLanguage::text(QStringLiteral("G711A")), 0);
    m_cmbEncodeType->addItem(QIcon(blank), CMultiLanguage::text(QStringLiteral("G711U")), 1);
}

void CAudioCfgWidget::setDevice(const scoutrix::DeviceRecord &device)
{
    m_device = device;
    m_loginHandle = device.loginHandle;
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("Form.qss"))
                  + AppPaths::readStyleSheet(QStringLiteral("Audio.qss")));
    setTexts();
    slot_GetDevConfig();
}

void CAudioCfgWidget::slot_GetDevConfig()
{
    scoutrix::AudioRecord record;
    std::memset(&record, 0, sizeof record);
    int32_t bytes = 0;
    const int32_t result = NetSdk_GetConfig(m_loginHandle, scoutrix::CmdAudio, 0, &record,
                                            int32_t(sizeof record), &bytes, kTimeoutMs);
    qDebug() << "nRet = " << result;
    // A short answer is no answer: the missing words would be written back as zeros.
    m_settings.loadRead(result >= 0 && bytes != int32_t(sizeof record) && bytes != 0 ? -1 : result, record);
    if (!m_settings.canSave()) {
        showReadFailure();
        return;
    }
    m_readMessage->hide();
    m_form->show();
    m_form->setEnabled(true);
    m_btnSave->setEnabled(true);
    SetParamToWnd();
}

void CAudioCfgWidget::showReadFailure()
{
    // The controls keep nothing of an earlier device.
    const scoutrix::AudioValues none;
    m_cmbEncodeType->setCurrentIndex(none.compression);
    m_sldOutputVolume->setValue(none.outputVolume);
    m_sldInVolume->setValue(none.inputVolume);
    m_form->setEnabled(false);
    m_form->hide();
    m_btnSave->setEnabled(false);
    const int32_t error = m_settings.readError();
    QString text;
    if (m_device.loginInfo.audioChannelCount() == 0)
        text = CMultiLanguage::text(QStringLiteral("Audio.NoAudio"));
    else if (error == ResultTexts::CodeTimeout)
        text = CMultiLanguage::text(QStringLiteral("Audio.ReadTimeout"));
    else
        text = CMultiLanguage::text(QStringLiteral("Audio.ReadFailed")).arg(error);
    m_readMessage->setText(text);
    m_readMessage->show();
}

bool CAudioCfgWidget::SetParamToWnd()
{
    m_wanted = m_settings.shown();
    m_cmbEncodeType->setCurrentIndex(m_wanted.compression);
    m_sldOutputVolume->setValue(m_wanted.outputVolume);
    m_sldInVolume->setValue(m_wanted.inputVolume);
    return true;
}

bool CAudioCfgWidget::SetWndToParam()
{
    m_wanted.compression = m_cmbEncodeType->currentData().toInt();
    m_wanted.outputVolume = m_sldOutputVolume->value();
    m_wanted.inputVolume = m_sldInVolume->value();
    return true;
}

void CAudioCfgWidget::slot_SaveDevConfig()
{
    // Never a record made up from zeros or from another device.
    if (!m_settings.canSave())
        return;
    SetWndToParam();
    const scoutrix::AudioRecord before = m_settings.record();
    scoutrix::AudioRecord record = m_settings.recordFor(m_wanted);
    const int32_t result = NetSdk_SetConfig(m_loginHandle, scoutrix::CmdAudio, 0, &record,
                                            int32_t(sizeof record), kTimeoutMs);
    qDebug() << "nRet = " << result;
    if (scoutrix::setTaken(result))
        m_settings.saved(record);
    logSave(result, before, record);
    emit sig_SetAudioResult(result, long(m_loginHandle));
}

void CAudioCfgWidget::logSave(int32_t result, const scoutrix::AudioRecord &before,
                              const scoutrix::AudioRecord &after)
{
    ActivityEntry entry = scoutrix::activityEntryFor(m_device, ResultTexts::OpAudio);
    entry.oldValue = QString::fromStdString(scoutrix::AudioSettings::describe(before));
    entry.newValue = QString::fromStdString(scoutrix::AudioSettings::describe(after));
    entry.result = result;
    ActivityLog::instance().append(entry);
}

void CAudioCfgWidget::slot_OutPutVolumeText(int value)
{
    m_labOutNum->setText(QString::number(value));
}

void CAudioCfgWidget::slot_InVolumeText(int value)
{
    m_labInNum->setText(QString::number(value));
}
