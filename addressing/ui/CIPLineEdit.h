#pragma once
// An IPv4 address editor made of four octet editors. Typing moves on to the
// next octet as soon as no further digit could follow.

#include <QLineEdit>

#include <array>

class COneIPLineEdit;

class CIPLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit CIPLineEdit(QWidget *parent = nullptr);

    // The octet's decimal value (0 when empty); -1 for an index outside 0..3.
    qint64 getOctet(int index) const;
    // Shows |value| in the octet; false for an index outside 0..3.
    bool setOctet(qint64 value, int index);
    COneIPLineEdit *octet(int index) const;

signals:
    // Any octet's text changed.
    void octetsChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeOctets();
    int indexOf(QObject *object) const;

    std::array<COneIPLineEdit *, 4> m_octets {};
};
