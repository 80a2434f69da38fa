#include "CUpgradeWidget.h"

#include <QLabel>
#include <QVBoxLayout>

#include "CMultiLanguage.h"

CUpgradeWidget::CUpgradeWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("CUpgradeWidget"));
    auto *layout = new QVBoxLayout(this);
    m_hint = new QLabel(CMultiLanguage::text(QStringLiteral("This page arrives with the batch upgrade")), this);
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setStyleSheet(QStringLiteral("color:rgb(160,165,170);font-size:16px;"));
    layout->addWidget(m_hint);
}

CUpgradeWidget::~CUpgradeWidget() = default;

void CUpgradeWidget::setDeviceList(scoutrix::DeviceRecord *devices, int count)
{
    m_devices = devices;
    m_count = count;
}
