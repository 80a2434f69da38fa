#include "CFramelessDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

CFramelessDialog::CFramelessDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::Dialog);
}

void CFramelessDialog::mousePressEvent(QMouseEvent *event)
{
    m_drag.press(event, this);
    QDialog::mousePressEvent(event);
}

void CFramelessDialog::mouseMoveEvent(QMouseEvent *event)
{
    QPoint pos;
    if (m_drag.move(event, &pos)) {
        move(pos);
        emit mouseButtonMove(pos);
        emit signalMainWindowMove();
    }
    QDialog::mouseMoveEvent(event);
}

QWidget *CFramelessDialog::titleBand(const QString &title, QPushButton **closeButton)
{
    auto *band = new QWidget(this);
    band->setObjectName(QStringLiteral("widget_2"));
    band->setFixedHeight(24);
    band->setAttribute(Qt::WA_StyledBackground);
    auto *label = new QLabel(title, band);
    label->setObjectName(QStringLiteral("labTip"));
    auto *close = new QPushButton(band);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setFixedSize(24, 24);
    auto *layout = new QHBoxLayout(band);
    layout->setContentsMargins(10, 0, 0, 0);
    layout->addWidget(label);
    layout->addStretch();
    layout->addWidget(close);
    if (closeButton)
        *closeButton = close;
    return band;
}

QLabel *CFramelessDialog::namedLabel(const QString &name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setObjectName(name);
    return label;
}
