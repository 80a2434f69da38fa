#include "CConfigSetWidget.h"

#include <QLabel>
#include <QVBoxLayout>

#include "CMultiLanguage.h"

CConfigSetWidget::CConfigSetWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("CConfigSetWidget"));
    auto *layout = new QVBoxLayout(this);
    m_hint = new QLabel(CMultiLanguage::text(QStringLiteral("This page arrives with the device configuration")), this);
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setStyleSheet(QStringLiteral("color:rgb(160,165,170);font-size:16px;"));
    layout->addWidget(m_hint);
}

CConfigSetWidget::~CConfigSetWidget() = default;

void CConfigSetWidget::setDeviceList(scoutrix::DeviceRecord *devices, int count)
{
    m_devices = devices;
    m_count = count;
}
