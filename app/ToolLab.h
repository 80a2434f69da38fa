#pragma once

#include <QLabel>

// A label that acts as a button: any mouse press emits clicked().
class ToolLab : public QLabel
{
    Q_OBJECT

public:
    explicit ToolLab(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
