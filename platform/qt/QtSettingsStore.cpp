#include "platform/qt/QtSettingsStore.h"

namespace tarvex {
namespace {
QString keyOf(std::string_view section, std::string_view key)
{
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + '/'
           + QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}
} // namespace

QtSettingsStore::QtSettingsStore(const QString& file)
    : settings_(file.isEmpty() ? std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "NCVELMO")
                               : std::make_unique<QSettings>(file, QSettings::IniFormat))
{
}

std::string QtSettingsStore::read(std::string_view section, std::string_view key, std::string_view fallback) const
{
    QVariant v = settings_->value(keyOf(section, key));
    if (!v.isValid())
        return std::string(fallback);
    return v.toString().toStdString();
}

void QtSettingsStore::write(std::string_view section, std::string_view key, std::string_view value)
{
    settings_->setValue(keyOf(section, key), QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
}

void QtSettingsStore::sync() { settings_->sync(); }

QString QtSettingsStore::fileName() const { return settings_->fileName(); }

} // namespace tarvex
