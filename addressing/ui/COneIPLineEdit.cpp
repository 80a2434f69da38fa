#include "COneIPLineEdit.h"

#include <QRegExpValidator>

COneIPLineEdit::COneIPLineEdit(QWidget *parent)
    : QLineEdit(parent)
{
    setAlignment(Qt::AlignHCenter);
    setMaxLength(3);
    setMinimumSize(25, 20);
    setStyleSheet(QStringLiteral("QLineEdit{border:none;padding-left:0px;}"));
    setValidator(new QRegExpValidator(QRegExp(QStringLiteral("(2[0-5]{2}|2[0-4][0-9]|1?[0-9]{1,2})")), this));
}
