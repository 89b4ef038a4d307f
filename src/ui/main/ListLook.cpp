#include "ui/main/ListLook.h"

#include "platform/Cp932.h"
#include "ui/main/TkavoListView.h"

#include <QApplication>

namespace kavo {

void ApplyListLook(TkavoListView& view, const TkavoSetting::ColorFontOptions& look, const TkavoFont& textFont)
{
    view.setUpdatesEnabled(false);
    view.SetLook(look);
    QPalette palette = view.palette();
    palette.setColor(QPalette::Base, ToQColor(look.BackColor, QApplication::palette()));
    palette.setColor(QPalette::Text, ToQColor(look.TextFontColor, QApplication::palette()));
    view.setPalette(palette);
    QFont font = view.font();
    if (!textFont.Name.empty())
        font.setFamily(QString::fromStdString(Cp932ToUtf8(textFont.Name)));
    if (textFont.Size > 0)
        font.setPointSize(textFont.Size);
    // Setting the font it already has would still re-resolve it for every child.
    if (font != view.font())
        view.setFont(font);
    view.setUpdatesEnabled(true);
    view.viewport()->update();
}

} // namespace kavo
