#include "ui/lists/EmptyState.h"

#include <QAbstractItemView>
#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kavo {

QString RefreshHint(bool keyF5Refresh)
{
    return keyF5Refresh ? QString::fromUtf8("「更新」ボタンかF5キーで最新の一覧を取得します。")
                        : QString::fromUtf8("「更新」ボタンで最新の一覧を取得します"
                                            "（設定の「操作」で「F5キーで更新」を選ぶとF5キーでも）。");
}

EmptyState::EmptyState(QAbstractItemView& view, std::function<bool()> hasEnabledYp, QAction* configure)
    : QWidget(view.viewport()), m_view(view), m_hasEnabledYp(std::move(hasEnabledYp)), m_configure(configure),
      m_label(new QLabel(this)), m_button(new QPushButton(QString::fromUtf8("YPを設定する(&Y)..."), this))
{
    setObjectName(QStringLiteral("EmptyState"));
    m_label->setObjectName(QStringLiteral("EmptyStateText"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setWordWrap(true);
    m_button->setObjectName(QStringLiteral("EmptyStateButton"));
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(m_label);
    layout->addWidget(m_button, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(m_button, &QPushButton::clicked, this, [this] {
        if (!m_configure || m_configure->isEnabled())
            emit ConfigureRequested();
    });
    if (m_configure)
        connect(m_configure, &QAction::changed, this, [this] { m_button->setEnabled(m_configure->isEnabled()); });

    if (QAbstractItemModel* model = m_view.model()) {
        connect(model, &QAbstractItemModel::modelReset, this, &EmptyState::Update);
        connect(model, &QAbstractItemModel::layoutChanged, this, &EmptyState::Update);
        connect(model, &QAbstractItemModel::rowsInserted, this, &EmptyState::Update);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &EmptyState::Update);
    }
    m_view.viewport()->installEventFilter(this);
    hide();
}

void EmptyState::SetRefreshing(bool refreshing)
{
    m_refreshing = refreshing;
    Update();
}

void EmptyState::SetRefreshed()
{
    m_refreshed = true;
    Update();
}

void EmptyState::SetIdleHint(const QString& hint)
{
    m_idleHint = hint;
    Update();
}

QString EmptyState::Text() const
{
    return isHidden() ? QString() : m_label->text();
}

void EmptyState::Update()
{
    const bool empty = !m_view.model() || m_view.model()->rowCount() == 0;
    const bool noYp = m_hasEnabledYp && !m_hasEnabledYp();
    const bool idle = !noYp && !m_refreshing && !m_refreshed && !m_idleHint.isEmpty();
    if (!empty || (!noYp && !m_refreshing && !idle)) {
        hide();
        return;
    }
    if (noYp)
        m_label->setText(QString::fromUtf8("有効なYPがありません。\n"
                                           "設定の「YP」ページでYPを追加し、チェックを入れてください。"));
    else if (m_refreshing)
        m_label->setText(QString::fromUtf8("更新中…"));
    else
        m_label->setText(QString::fromUtf8("まだ一覧を取得していません。\n") + m_idleHint);
    m_button->setVisible(noYp);
    m_button->setEnabled(!m_configure || m_configure->isEnabled());
    setGeometry(m_view.viewport()->rect());
    show();
    raise();
}

bool EmptyState::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view.viewport() && event->type() == QEvent::Resize)
        setGeometry(m_view.viewport()->rect());
    return QWidget::eventFilter(watched, event);
}

} // namespace kavo
