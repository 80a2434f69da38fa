#include "CResultMark.h"

CResultMark::CResultMark(int result, int operationId, QWidget *parent)
    : QPushButton(parent)
    , m_result(result)
    , m_operationId(operationId)
{
    setObjectName(QStringLiteral("btnResultMark"));
    setFixedSize(16, 16);
    setFocusPolicy(Qt::NoFocus);
    setStyleSheet(styleFor(result));
}

CResultMark::~CResultMark() = default;

QString CResultMark::styleFor(int result)
{
    // The hover picture of the error mark carries its historic file name.
    if (result < 0)
        return QStringLiteral("QPushButton{border:none;background-image: url(Skin/error.png)}"
                              "QPushButton:hover{background-image: url(Skin/erro_hover.png)}");
    return QStringLiteral("QPushButton{border:none;background-image: url(Skin/ok.png)}"
                          "QPushButton:hover{background-image: url(Skin/ok_hover.png)}");
}
