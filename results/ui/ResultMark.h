#pragma once
// The small ok / error button with which every page marks a device's outcome;
// pressing it opens the result notice.

#include <QString>

class QPushButton;
class QWidget;

namespace ResultMark {

QString styleSheet(bool ok);
// A 16x16 button in the ok or error look.
QPushButton *create(bool ok, QWidget *parent = nullptr);
// Changes an existing mark's look.
void setOk(QPushButton *mark, bool ok);

} // namespace ResultMark
