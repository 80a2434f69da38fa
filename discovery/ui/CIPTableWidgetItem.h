#pragma once
// A table cell that orders IPv4 texts by value: 10.0.0.2 before 10.0.0.10,
// and texts that are no address before every address.

#include <QTableWidgetItem>

class CIPTableWidgetItem : public QTableWidgetItem
{
public:
    explicit CIPTableWidgetItem(const QString &text);
    bool operator<(const QTableWidgetItem &other) const override;
};
