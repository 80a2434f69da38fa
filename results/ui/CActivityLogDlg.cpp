#include "CActivityLogDlg.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ActivityLog.h"
#include "AppPaths.h"
#include "CMultiLanguage.h"
#include "Prompt.h"
#include "ResultTexts.h"

namespace {

const char *const HeaderKeys[CActivityLogDlg::ColumnCount] = {
    LANG_KEY("Log.Time"),      LANG_KEY("Log.Device"), LANG_KEY("Model"),     LANG_KEY("IP"),
    LANG_KEY("OperationType"), LANG_KEY("Log.Change"), LANG_KEY("OperationResult")};

QString changeText(const ActivityEntry &e)
{
    if (e.oldValue.isEmpty())
        return e.newValue;
    if (e.newValue.isEmpty())
        return e.oldValue;
    return e.oldValue + QStringLiteral(" \u2192 ") + e.newValue;
}

} // namespace

CActivityLogDlg::CActivityLogDlg(QWidget *parent, ActivityLog *log)
    : CFramelessDialog(parent)
    , m_log(log ? log : &ActivityLog::instance())
{
    setObjectName(QStringLiteral("CActivityLogDlg"));
    resize(1120, 560);
    setStyleSheet(AppPaths::readStyleSheet(QStringLiteral("ActivityLog.qss")));
    const QString title = CMultiLanguage::text(QStringLiteral("Activity log"));
    setWindowTitle(title);

    QPushButton *btnClose = nullptr;
    QWidget *band = titleBand(title, &btnClose);

    auto *body = new QWidget(this);
    body->setObjectName(QStringLiteral("widget"));
    body->setAttribute(Qt::WA_StyledBackground);
    m_cmbDay = new QComboBox(body);
    m_cmbDay->setObjectName(QStringLiteral("cmbDay"));
    m_cmbDay->setMinimumWidth(140);
    m_btnExport = new QPushButton(CMultiLanguage::text(QStringLiteral("Export CSV")), body);
    m_btnExport->setObjectName(QStringLiteral("btnExport"));
    m_btnExport->setMinimumSize(110, 28);
    m_labFolder = new QLabel(body);
    m_labFolder->setObjectName(QStringLiteral("labFolder"));
    m_labFolder->setTextFormat(Qt::PlainText);
    m_labFolder->setText(QDir::toNativeSeparators(m_log->directory()));
    m_labFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_table = new QTableWidget(0, ColumnCount, body);
    m_table->setObjectName(QStringLiteral("tableLog"));
    QStringList labels;
    for (const char *key : HeaderKeys)
        labels << CMultiLanguage::text(QString::fromLatin1(key));
    m_table->setHorizontalHeaderLabels(labels);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    // Addresses, MACs and codes cut short are useless; the change text takes
    // what is left and shows whole in its tool tip.
    for (int c = 0; c < ColumnCount; ++c)
        m_table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(ColChange, QHeaderView::Stretch);

    auto *tools = new QHBoxLayout;
    tools->addWidget(new QLabel(CMultiLanguage::text(QStringLiteral("Log.Day")), body));
    tools->addWidget(m_cmbDay);
    tools->addSpacing(16);
    tools->addWidget(m_labFolder, 1);
    tools->addWidget(m_btnExport);
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(16, 12, 16, 16);
    bodyLayout->setSpacing(10);
    bodyLayout->addLayout(tools);
    bodyLayout->addWidget(m_table, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(band);
    layout->addWidget(body, 1);

    fillDays();
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(m_btnExport, &QPushButton::clicked, this, &CActivityLogDlg::btnExport_click);
    connect(m_cmbDay, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { showDay(m_cmbDay->itemData(index).toDate()); });
    // Batches append from their workers; rows are added on this thread.
    connect(m_log, &ActivityLog::appended, this, &CActivityLogDlg::slot_Appended, Qt::QueuedConnection);
}

CActivityLogDlg::~CActivityLogDlg() = default;

void CActivityLogDlg::fillDays()
{
    QVector<QDate> days = m_log->days();
    const QDate today = QDate::currentDate();
    if (!days.contains(today))
        days.prepend(today);
    m_cmbDay->clear();
    for (const QDate &d : days)
        m_cmbDay->addItem(d.toString(Qt::ISODate), d);
    showDay(today);
}

void CActivityLogDlg::showDay(const QDate &day)
{
    m_day = day;
    const int index = m_cmbDay->findData(day);
    if (index >= 0)
        m_cmbDay->setCurrentIndex(index);
    m_table->setRowCount(0);
    const QVector<ActivityEntry> entries = m_log->entries(day);
    // Newest first: the change just made is the one an installer looks for.
    for (const ActivityEntry &e : entries)
        addRow(e);
}

void CActivityLogDlg::addRow(const ActivityEntry &e)
{
    m_table->insertRow(0);
    const QString device = e.serial.isEmpty() ? e.mac : e.mac + QStringLiteral("  ") + e.serial;
    const QString texts[ColumnCount] = {e.time.time().toString(QStringLiteral("HH:mm:ss")),
                                        device,
                                        e.model,
                                        e.address,
                                        ResultTexts::operationName(e.operation),
                                        changeText(e),
                                        e.resultText};
    for (int c = 0; c < ColumnCount; ++c) {
        auto *item = new QTableWidgetItem(texts[c]);
        item->setToolTip(texts[c]);
        m_table->setItem(0, c, item);
    }
    QTableWidgetItem *result = m_table->item(0, ColResult);
    result->setForeground(QColor(ResultTexts::isSuccess(e.result) ? "#4CC38A" : "#E5675A"));
}

void CActivityLogDlg::slot_Appended(const ActivityEntry &entry)
{
    if (entry.time.date() == m_day)
        addRow(entry);
    else if (m_cmbDay->findData(entry.time.date()) < 0)
        m_cmbDay->insertItem(0, entry.time.date().toString(Qt::ISODate), entry.time.date());
}

bool CActivityLogDlg::exportTo(const QString &path) const
{
    return ActivityLog::writeCsvFile(path, ActivityLog::toCsv(m_log->entries(m_day)));
}

void CActivityLogDlg::btnExport_click()
{
    const QString suggested = QStringLiteral("scoutrix-activity-%1.csv").arg(m_day.toString(Qt::ISODate));
    const QString path = QFileDialog::getSaveFileName(this, CMultiLanguage::text(QStringLiteral("Export CSV")),
                                                      suggested, QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (!exportTo(path))
        Prompt::warning(this, CMultiLanguage::text(QStringLiteral("warning")),
                        CMultiLanguage::text(QStringLiteral("The file could not be written.")) + QLatin1Char('\n')
                            + QDir::toNativeSeparators(path));
}
