#include "ui/dialogs/BalloonLimitField.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

namespace kavo {

BalloonLimitField::BalloonLimitField(QWidget* parent) : QWidget(parent), m_spin(new QSpinBox(this))
{
    setObjectName(QStringLiteral("notifyBalloonLimit"));
    m_spin->setObjectName(QStringLiteral("notifySpinBoxMaxBalloons"));
    m_spin->setRange(0, 999);
    m_spin->setSpecialValueText(QString::fromUtf8("無制限"));
    m_spin->setToolTip(QString::fromUtf8("これを超える分は「新着 N件 ほか」の1件にまとめます"));
    auto* label = new QLabel(QString::fromUtf8("1回の更新で出す通知の上限(&M)"), this);
    label->setBuddy(m_spin);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(m_spin);
    layout->addStretch(1);
}

int BalloonLimitField::Value() const
{
    return m_spin->value();
}

void BalloonLimitField::SetValue(int value)
{
    m_spin->setValue(value);
}

} // namespace kavo
