#pragma once

#include <QWidget>

class QSpinBox;

namespace kavo {

// "一度に出す通知の上限": how many channel balloons one refresh may queue before the rest are
// counted in a single one (0 for no limit).
class BalloonLimitField : public QWidget
{
    Q_OBJECT

public:
    explicit BalloonLimitField(QWidget* parent = nullptr);

    int Value() const;
    void SetValue(int value);
    QSpinBox* SpinBox() const { return m_spin; }

private:
    QSpinBox* m_spin;
};

} // namespace kavo
