#include "CSystemCFGWidget.h"

#include <QLabel>
#include <QVBoxLayout>

#include "CMultiLanguage.h"

CSystemCFGWidget::CSystemCFGWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("CSystemCFGWidget"));
    auto *layout = new QVBoxLayout(this);
    m_hint = new QLabel(CMultiLanguage::text(QStringLiteral("This page arrives with the system settings")), this);
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setStyleSheet(QStringLiteral("color:rgb(160,165,170);font-size:16px;"));
    layout->addWidget(m_hint);
}

CSystemCFGWidget::~CSystemCFGWidget() = default;

void CSystemCFGWidget::setDeviceList(scoutrix::DeviceRecord *devices, int count)
{
    m_devices = devices;
    m_count = count;
}
