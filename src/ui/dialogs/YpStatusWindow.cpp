#include "ui/dialogs/YpStatusWindow.h"

#include "ui/Cp932Text.h"

#include "history/HistoryStore.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "settings/TkavoSetting.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kavo {
YpStatusWindow::YpStatusWindow(HistoryStore& history, const TkavoSetting& setting, QWidget* parent)
    : QDialog(parent), m_history(history), m_setting(setting)
{
    setObjectName(QStringLiteral("YpStatusWindow"));
    setWindowTitle(QString::fromUtf8("YPの状態"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("ListViewYpStatus"));
    m_list->setRootIsDecorated(false);
    m_list->setColumnCount(ColumnCount);
    m_list->setHeaderLabels({QStringLiteral("YP"), QString::fromUtf8("状態"), QString::fromUtf8("チャンネル"),
                             QString::fromUtf8("最終成功"), QString::fromUtf8("連続失敗")});
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(ColumnYp, QHeaderView::Stretch);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("LabelHistoryProblem"));
    m_problem->setWordWrap(true);
    m_problem->hide();
    auto* reload = new QPushButton(QString::fromUtf8("再読み込み(&R)"), this);
    auto* close = new QPushButton(QString::fromUtf8("閉じる"), this);
    connect(reload, &QPushButton::clicked, this, &YpStatusWindow::Reload);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(reload);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_problem);
    layout->addLayout(buttons);
    resize(640, 260);
    Reload();
}

void YpStatusWindow::Reload()
{
    std::vector<YpHealth> configured;
    for (const TkavoYpItem& yp : m_setting.YpList)
        configured.push_back(YpHealth::Of(yp.Url, yp.Title, yp.Enabled));
    const std::vector<YpHealth> rows = m_history.YpStatus(configured);
    const DateTime now = Now();
    m_list->clear();
    for (const YpHealth& yp : rows) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(ColumnYp, FromCp932(yp.Title.empty() ? yp.Url : yp.Title));
        item->setText(ColumnResult, yp.Enabled ? FromCp932(YpResultText(yp)) : QString::fromUtf8("無効"));
        item->setText(ColumnChannels, QString::number(yp.Channels));
        item->setText(ColumnLastSuccess, FromCp932(SinceText(yp.LastSuccess, now)));
        item->setText(ColumnFailures, QString::number(yp.FailuresInRow));
        for (int column : {ColumnChannels, ColumnFailures})
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        QString tip = FromCp932(yp.Url);
        for (const YpAttemptRow& attempt : yp.Recent)
            tip += QStringLiteral("\n") + FromCp932(AttemptText(attempt));
        for (int column = 0; column < ColumnCount; ++column) {
            item->setToolTip(column, tip);
            if (yp.Enabled && yp.Failing())
                item->setForeground(column, QColor(Qt::red));
            else if (!yp.Enabled)
                item->setForeground(column, palette().color(QPalette::Disabled, QPalette::Text));
        }
    }
    const std::string problem = m_history.Problem();
    m_problem->setVisible(!problem.empty());
    m_problem->setText(QString::fromUtf8("履歴を記録できません: ") + QString::fromStdString(problem));
    for (int column = 1; column < ColumnCount; ++column)
        m_list->resizeColumnToContents(column);
}

} // namespace kavo
