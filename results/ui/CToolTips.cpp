#include "CToolTips.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "CMultiLanguage.h"
#include "ResultTexts.h"

namespace {

// The outcome is what the installer looks for: coloured so it reads at a
// glance (done, done but the device wants a reboot, not done).
QString colourStyle(int result)
{
    const char *colour = ResultTexts::isSuccess(result) ? "#4CC38A"
        : result == ResultTexts::CodeNeedReboot         ? "#E8A33D"
                                                        : "#E5675A";
    return QStringLiteral("color:%1;").arg(QLatin1String(colour));
}

} // namespace

CToolTips::CToolTips(QWidget *parent, const QString &device, int result, int operation, int reserved)
    : CFramelessDialog(parent)
{
    Q_UNUSED(reserved)
    setObjectName(QStringLiteral("CToolTips"));
    setFixedSize(415, 357);
    setStyleSheet(QStringLiteral("color:white"));
    setWindowTitle(CMultiLanguage::text(QStringLiteral("Details")));

    QPushButton *btnClose = nullptr;
    QWidget *band = titleBand(CMultiLanguage::text(QStringLiteral("Details")), &btnClose);
    band->setStyleSheet(QStringLiteral("background-color:rgba(80,85,90);;"));
    btnClose->setStyleSheet(QStringLiteral(
        "QPushButton{border:none;background-color:rgba(80,85,90);background-image: url(Skin/close-normal.png);}"
        "QPushButton:hover{background-image: url(Skin/close-hover.png)}"));

    auto *body = new QWidget(this);
    body->setObjectName(QStringLiteral("widget"));
    body->setAttribute(Qt::WA_StyledBackground);
    body->setStyleSheet(QStringLiteral("background-color:rgba(39,42,47);"));
    auto *grid = new QGridLayout(body);
    m_grid = grid;
    grid->setContentsMargins(40, 30, 40, 30);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(28);
    m_labIP2 = namedLabel(QStringLiteral("labIP2"), device, body);
    m_labMode2 = namedLabel(QStringLiteral("labMode2"), QString(), body);
    QFont bold = m_labMode2->font();
    bold.setPointSize(11);
    bold.setBold(true);
    m_labMode2->setFont(bold);
    m_labType2 = namedLabel(QStringLiteral("labType2"), QString(), body);
    m_labType2->setWordWrap(true);
    // Addresses and MAC texts from devices: never read as markup.
    m_labIP2->setTextFormat(Qt::PlainText);
    m_labDetail = namedLabel(QStringLiteral("labDetail"), QString(), body);
    m_labDetail->setTextFormat(Qt::PlainText);
    m_labDetail->setWordWrap(true);
    m_labDetail->hide();
    grid->addWidget(namedLabel(QStringLiteral("labIP"), QStringLiteral("IP"), body), 0, 0);
    grid->addWidget(m_labIP2, 0, 1);
    grid->addWidget(namedLabel(QStringLiteral("labMode"), CMultiLanguage::text(QStringLiteral("OperationType")), body), 1, 0);
    grid->addWidget(m_labMode2, 1, 1);
    grid->addWidget(namedLabel(QStringLiteral("labType"), CMultiLanguage::text(QStringLiteral("OperationResult")), body), 2, 0);
    grid->addWidget(m_labType2, 2, 1);
    // Row 3 holds the step lines, when there are any.
    grid->addWidget(m_labDetail, 4, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(band);
    layout->addWidget(body);

    const QString name = ResultTexts::operationName(operation);
    if (!name.isEmpty())
        m_labMode2->setText(name);
    m_labType2->setText(ResultTexts::resultText(result, operation));
    // The outcome is what the installer looks for: coloured so it reads at a
    // glance (done, done but the device wants a reboot, not done).
    m_labType2->setStyleSheet(colourStyle(result));

    connect(btnClose, &QPushButton::clicked, this, &CToolTips::OnClose);
}

QString CToolTips::deviceText() const { return m_labIP2->text(); }
QString CToolTips::operationText() const { return m_labMode2->text(); }
QString CToolTips::resultText() const { return m_labType2->text(); }
QString CToolTips::detailText() const { return m_detail; }

void CToolTips::setDetail(const QString &detail)
{
    m_detail = detail;
    // A file path has no blanks to wrap at: let it break after each folder.
    QString shown = detail;
    shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    m_labDetail->setText(shown);
    m_labDetail->setVisible(!detail.isEmpty());
    fitHeight();
}

void CToolTips::setSteps(const QVector<QPair<int, int>> &steps)
{
    // The labels of earlier steps go with their box, below.
    m_stepLabels.clear();
    auto *box = new QWidget(m_labDetail->parentWidget());
    box->setObjectName(QStringLiteral("widgetSteps"));
    auto *lines = new QVBoxLayout(box);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(6);
    for (const auto &step : steps) {
        QString name = ResultTexts::operationName(step.first);
        if (name.isEmpty())
            name = QString::number(step.first);
        auto *line = namedLabel(QStringLiteral("labStep%1").arg(m_stepLabels.size()),
                                name + QStringLiteral(": ") + ResultTexts::resultText(step.second, step.first), box);
        line->setTextFormat(Qt::PlainText);
        line->setWordWrap(true);
        line->setStyleSheet(colourStyle(step.second));
        lines->addWidget(line);
        m_stepLabels.append(line);
    }
    if (QLayoutItem *old = m_grid->itemAtPosition(3, 1)) {
        QWidget *w = old->widget();
        m_grid->removeItem(old);
        delete old;
        delete w;
    }
    if (steps.isEmpty()) {
        delete box;
    } else {
        m_grid->addWidget(box, 3, 1);
    }
    fitHeight();
}

QStringList CToolTips::stepTexts() const
{
    QStringList out;
    for (const QLabel *l : m_stepLabels)
        out << l->text();
    return out;
}

void CToolTips::fitHeight()
{
    // The notice keeps its size unless its lines need more room.
    layout()->activate();
    setFixedHeight(std::max(357, layout()->sizeHint().height()));
}

void CToolTips::OnClose()
{
    close();
}
