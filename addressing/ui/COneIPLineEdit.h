#pragma once
// One octet of an address editor: up to three digits, 0 to 255.

#include <QLineEdit>

class COneIPLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit COneIPLineEdit(QWidget *parent = nullptr);
};
