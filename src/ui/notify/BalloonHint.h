#pragma once

#include <QFrame>
#include <QPoint>
#include <QString>
#include <QTimer>

class QLabel;

namespace kavo {

// The free balloon: a small frameless window with an icon, a title and a text, shown beside a
// point of the screen for a while. A left click reports Clicked and hides it; the other buttons
// only hide it.
class BalloonHint : public QFrame
{
    Q_OBJECT

public:
    explicit BalloonHint(QWidget* parent = nullptr);

    // Shows the balloon with a corner at anchor (screen coordinates) for msecs milliseconds. kind:
    // 1 error, 2 information, 3 warning icon; any other value shows none.
    void ActivateHint(const QPoint& anchor, const QString& title, const QString& text, int kind, int msecs);
    void CancelHint();

    QPoint Anchor() const { return m_anchor; }
    QString Title() const;
    QString Text() const { return m_textValue; } // as given, lines joined by CR LF
    int Kind() const { return m_kind; }

    // Top-left corner of a balloon of this size: its corner nearest to the anchor sits on the
    // anchor, and the balloon stays inside the work area.
    static QPoint Placement(const QPoint& anchor, const QSize& size, const QRect& workArea);

signals:
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QLabel* m_icon;
    QLabel* m_title;
    QLabel* m_text;
    QTimer m_timeout;
    QPoint m_anchor;
    QString m_textValue;
    int m_kind = 0;
};

} // namespace kavo
