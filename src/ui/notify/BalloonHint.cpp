#include "ui/notify/BalloonHint.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace kavo {

namespace {

constexpr int IconSize = 32;
constexpr int TextWidth = 360;

QIcon KindIcon(QStyle* style, int kind)
{
    switch (kind) {
    case 1:
        return style->standardIcon(QStyle::SP_MessageBoxCritical);
    case 2:
        return style->standardIcon(QStyle::SP_MessageBoxInformation);
    case 3:
        return style->standardIcon(QStyle::SP_MessageBoxWarning);
    default:
        return {};
    }
}

} // namespace

BalloonHint::BalloonHint(QWidget* parent)
    // A tool window rather than a tool tip: a tool tip needs a parent window on Wayland, and this
    // balloon shows while the main window is hidden in the tray.
    : QFrame(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                         Qt::X11BypassWindowManagerHint),
      m_icon(new QLabel(this)), m_title(new QLabel(this)), m_text(new QLabel(this))
{
    setObjectName(QStringLiteral("JvBalloonHint"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFrameShape(QFrame::Box);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    setAutoFillBackground(true);

    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    for (QLabel* label : {m_title, m_text}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setMaximumWidth(TextWidth);
        label->setForegroundRole(QPalette::ToolTipText);
    }
    m_icon->setFixedSize(IconSize, IconSize);

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_title);
    texts->addWidget(m_text);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_icon, 0, Qt::AlignTop);
    layout->addLayout(texts);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, &BalloonHint::CancelHint);
}

void BalloonHint::ActivateHint(const QPoint& anchor, const QString& title, const QString& text, int kind, int msecs)
{
    m_anchor = anchor;
    m_kind = kind;
    m_textValue = text;
    m_title->setText(title);
    m_text->setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    const QIcon icon = KindIcon(style(), kind);
    m_icon->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(IconSize, IconSize));
    m_icon->setVisible(!icon.isNull());
    adjustSize();

    const QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect workArea = screen ? screen->availableGeometry() : QRect(anchor, size());
    move(Placement(anchor, size(), workArea));
    show();
    m_timeout.start(std::max(msecs, 1));
}

void BalloonHint::CancelHint()
{
    m_timeout.stop();
    hide();
}

QString BalloonHint::Title() const
{
    return m_title->text();
}

QPoint BalloonHint::Placement(const QPoint& anchor, const QSize& size, const QRect& workArea)
{
    const QPoint center = workArea.center();
    int x = anchor.x() >= center.x() ? anchor.x() - size.width() : anchor.x();
    int y = anchor.y() >= center.y() ? anchor.y() - size.height() : anchor.y();
    x = std::max(workArea.left(), std::min(x, workArea.left() + workArea.width() - size.width()));
    y = std::max(workArea.top(), std::min(y, workArea.top() + workArea.height() - size.height()));
    return {x, y};
}

void BalloonHint::mousePressEvent(QMouseEvent* event)
{
    CancelHint();
    event->accept();
    if (event->button() == Qt::LeftButton)
        emit Clicked();
}

} // namespace kavo
