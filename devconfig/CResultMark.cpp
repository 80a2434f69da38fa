#include "CResultMark.h"

#include "ResultMark.h"

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
    return ResultMark::styleSheet(result >= 0);
}
