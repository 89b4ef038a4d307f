#pragma once

#include <QLineEdit>
#include <QString>

class QCoreApplication;
class QTranslator;
class QWidget;

namespace kavo {

// A text prompt as QInputDialog::getText asks it, made wide enough that its title and prompt are
// not cut (a Japanese caption is wider than the few words the stock prompt is sized for).
QString GetInputText(QWidget* parent, const QString& title, const QString& label, QLineEdit::EchoMode mode,
                     const QString& text, bool* ok);

// Qt's own texts (the buttons of its dialogs, the edit menus) in Japanese, from the translations
// Qt installs. The translator installed, owned by the application; null when the translations are
// not installed, and the texts stay English.
QTranslator* InstallQtJapanese(QCoreApplication& application);

} // namespace kavo
