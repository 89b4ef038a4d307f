#include "ui/app/InputBox.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QTranslator>

#include <algorithm>

namespace kavo {

QString GetInputText(QWidget* parent, const QString& title, const QString& label, QLineEdit::EchoMode mode,
                     const QString& text, bool* ok)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setTextEchoMode(mode);
    dialog.setTextValue(text);
    dialog.setInputMode(QInputDialog::TextInput);
    // The title bar's font is the window manager's; the dialog's own font is a fair guess of it,
    // with room for the title bar's buttons.
    const QFontMetrics metrics(dialog.font());
    const int wanted = std::max(metrics.horizontalAdvance(title) + 8 * metrics.averageCharWidth() + 96,
                                metrics.horizontalAdvance(label) + 4 * metrics.averageCharWidth());
    // The dialog's layout fixes its size from its children, so the width goes on the text field.
    if (auto* edit = dialog.findChild<QLineEdit*>())
        edit->setMinimumWidth(std::max(wanted, 320));
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (ok)
        *ok = accepted;
    return accepted ? dialog.textValue() : QString();
}

QTranslator* InstallQtJapanese(QCoreApplication& application)
{
    auto* translator = new QTranslator(&application);
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

} // namespace kavo
