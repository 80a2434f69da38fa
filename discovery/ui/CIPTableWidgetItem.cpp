#include "CIPTableWidgetItem.h"

#include "TableRules.h"

CIPTableWidgetItem::CIPTableWidgetItem(const QString &text)
    : QTableWidgetItem(text)
{
}

bool CIPTableWidgetItem::operator<(const QTableWidgetItem &other) const
{
    const qint64 mine = TableRules::ipSortValue(text());
    const qint64 theirs = TableRules::ipSortValue(other.text());
    if (mine < 0 && theirs < 0)
        return QTableWidgetItem::operator<(other);
    return mine < theirs;
}
