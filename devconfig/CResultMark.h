#pragma once
// The small ok / error button beside a device that opens its result notice.
// It carries the operation id and the result code it stands for.

#include <QPushButton>

class CResultMark final : public QPushButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CResultMark)

public:
    CResultMark(int result, int operationId, QWidget *parent = nullptr);
    ~CResultMark() override;

    int result() const { return m_result; }
    int operationId() const { return m_operationId; }
    bool isError() const { return m_result < 0; }

    static QString styleFor(int result);

private:
    int m_result;
    int m_operationId;
};
