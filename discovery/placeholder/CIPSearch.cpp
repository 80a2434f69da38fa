#include "CIPSearch.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "AppPaths.h"

CIPSearch::CIPSearch(QWidget *parent)
    : QWidget(parent)
    , m_table(new QTableWidget(this))
{
    m_table->setObjectName(QStringLiteral("tableAuto"));
    m_table->setColumnCount(4);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Type"), QStringLiteral("IP"),
                                        QStringLiteral("Mac"), QStringLiteral("Model")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setAlternatingRowColors(true);
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("IPSearch.qss")));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
}

void CIPSearch::setDevices(const scoutrix::NetInfo *net, const scoutrix::DevInfo *dev, int rawCount)
{
    m_table->setRowCount(0);
    for (int i = 0; i < rawCount; ++i) {
        if (!net[i].hasMac())
            continue;
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        const QString cells[] = {QString::fromLatin1(scoutrix::deviceTypeName(dev[i].deviceType())),
                                 QString::fromStdString(net[i].ipText()),
                                 QString::fromStdString(net[i].macText()),
                                 QString::fromStdString(dev[i].modelText())};
        for (int c = 0; c < 4; ++c)
            m_table->setItem(row, c, new QTableWidgetItem(cells[c]));
    }
    emit sig_ListDevice();
}
