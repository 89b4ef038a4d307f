#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace Ui {
class TkavoVersion;
}

namespace kavo {

// The version dialog: the program's name, file name, version and comment, and the libraries it
// runs with. Shown modally from the help menu:
//
//     TkavoVersion dialog(allFont, this);
//     dialog.SetApplicationTitle(title);
//     dialog.SetPcrawVersion(pcraw.Loaded() ? std::optional(QString::fromStdString(pcraw.VersionText()))
//                                           : std::nullopt);
//     dialog.exec();
class TkavoVersion : public QDialog
{
    Q_OBJECT

public:
    explicit TkavoVersion(const QFont& allFont, QWidget* parent = nullptr);
    ~TkavoVersion() override;

    // The caption (Etc/ApplicationTitle).
    void SetApplicationTitle(const QString& title) { m_applicationTitle = title; }
    // The version of the loaded PCRaw library; nullopt when none is loaded.
    void SetPcrawVersion(const std::optional<QString>& version) { m_pcrawVersion = version; }

    // A field of the program's version information as the build recorded it: "OriginalFilename",
    // "ProductName", "FileVersion" (the version and the revision it was built from) or
    // "Comments"; "" for any other name.
    static QString ReadVersionField(const QString& name);
    // The component list: the PCRaw line when the library is loaded, one line per library, an
    // empty line and the pointer to the README.
    static QStringList ComponentLines(const std::optional<QString>& pcrawVersion);

    // Fills caption, labels and component list anew; every showing does it.
    void Rebuild();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TkavoVersion> m_ui;
    QString m_applicationTitle;
    std::optional<QString> m_pcrawVersion;
};

} // namespace kavo
