#include "ResultMark.h"

#include <QPushButton>

namespace ResultMark {

QString styleSheet(bool ok)
{
    return ok ? QStringLiteral("QPushButton{border:none;background-image: url(Skin/ok.png)}"
                               "QPushButton:hover{background-image: url(Skin/ok_hover.png)}")
              : QStringLiteral("QPushButton{border:none;background-image: url(Skin/error.png)}"
                               "QPushButton:hover{background-image: url(Skin/erro_hover.png)}");
}

QPushButton *create(bool ok, QWidget *parent)
{
    auto *mark = new QPushButton(parent);
    mark->setFixedSize(16, 16);
    mark->setCursor(Qt::PointingHandCursor);
    setOk(mark, ok);
    return mark;
}

void setOk(QPushButton *mark, bool ok)
{
    mark->setObjectName(ok ? QStringLiteral("resultOk") : QStringLiteral("resultError"));
    mark->setStyleSheet(styleSheet(ok));
}

} // namespace ResultMark
