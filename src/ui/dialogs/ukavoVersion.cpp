#include "ui/dialogs/ukavoVersion.h"

#include "ui/dialogs/ComponentVersions.h"
#include "ui_ukavoVersion.h"
#include "version.h"

#include <QApplication>
#include <QLabel>

#include <dlfcn.h>

namespace kavo {

namespace {

// Qt WebEngine when the program runs with it; nullopt otherwise. Looked up among the libraries
// already loaded, so a build without the HTML view neither lists it nor loads it.
std::optional<QString> WebEngineVersion()
{
    void* library = ::dlopen("libQt6WebEngineCore.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!library)
        return std::nullopt;
    // qWebEngineVersion() and qWebEngineChromiumVersion() under their C++ symbol names.
    using VersionFn = const char* (*)();
    const auto version = reinterpret_cast<VersionFn>(::dlsym(library, "_Z17qWebEngineVersionv"));
    const auto chromium = reinterpret_cast<VersionFn>(::dlsym(library, "_Z25qWebEngineChromiumVersionv"));
    QString text = version ? QString::fromLatin1(version()) : QString();
    if (chromium)
        text += (text.isEmpty() ? QString() : QStringLiteral(", ")) + QStringLiteral("Chromium ") +
                QString::fromLatin1(chromium());
    ::dlclose(library); // only drops the reference taken above
    return text;
}

QString Line(const QString& name, const QString& version)
{
    return name + QStringLiteral(" (") + version + QLatin1Char(')');
}

} // namespace

TkavoVersion::TkavoVersion(const QFont& allFont, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::TkavoVersion>())
{
    m_ui->setupUi(this);
    m_ui->MemoComponents->setAccessibleName(QString::fromUtf8("使っているライブラリ"));
    setFont(allFont);
    m_ui->LabelVersion->adjustSize();
    m_ui->LabelPoweredBy->adjustSize();
    m_ui->ImageIcon->setBackgroundRole(QPalette::Base);
    const QIcon icon = parent ? parent->window()->windowIcon() : QApplication::windowIcon();
    m_ui->ImageIcon->setPixmap(icon.pixmap(32, 32));
}

TkavoVersion::~TkavoVersion() = default;

QString TkavoVersion::ReadVersionField(const QString& name)
{
    if (name == QLatin1String("OriginalFilename"))
        return QString::fromUtf8(version::FileName);
    if (name == QLatin1String("ProductName"))
        return QString::fromUtf8(version::ProductName);
    if (name == QLatin1String("FileVersion")) {
        const QString revision = QString::fromUtf8(version::Revision);
        const QString number = QString::fromUtf8(version::Version);
        return revision.isEmpty() ? number : number + QStringLiteral(" (") + revision + QLatin1Char(')');
    }
    if (name == QLatin1String("Comments"))
        return QString::fromUtf8(version::Description);
    return {};
}

QStringList TkavoVersion::ComponentLines(const std::optional<QString>& pcrawVersion)
{
    QStringList lines;
    if (pcrawVersion)
        lines << Line(QStringLiteral("libpcraw.so"), *pcrawVersion);
    lines << Line(QStringLiteral("Qt"), QString::fromLatin1(qVersion()));
    if (const auto webEngine = WebEngineVersion())
        lines << Line(QStringLiteral("Qt WebEngine"), *webEngine);
    for (const ComponentVersion& component : EngineComponentVersions())
        lines << QString::fromStdString(ComponentLine(component));
    lines << QString() << QStringLiteral("詳しい情報はREADME.mdを参照のこと");
    return lines;
}

void TkavoVersion::Rebuild()
{
    setWindowTitle(m_applicationTitle);
    const std::pair<QLabel*, const char*> fields[] = {
        {m_ui->LabelOriginalFilename, "OriginalFilename"},
        {m_ui->LabelProductName, "ProductName"},
        {m_ui->LabelFileVersion, "FileVersion"},
        {m_ui->LabelComments, "Comments"},
    };
    for (const auto& [label, field] : fields) {
        label->setText(ReadVersionField(QString::fromLatin1(field)));
        label->adjustSize(); // labels grow with their text and the font
    }
    m_ui->MemoComponents->setPlainText(ComponentLines(m_pcrawVersion).join(QLatin1Char('\n')));
}

void TkavoVersion::showEvent(QShowEvent* event)
{
    Rebuild();
    QDialog::showEvent(event);
}

} // namespace kavo
