#include "platform/qt/QtSettingsStore.h"

#include <QFile>
#include <sys/stat.h>

namespace tarvex {
namespace {
QString keyOf(std::string_view section, std::string_view key)
{
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + '/'
           + QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}
} // namespace

QtSettingsStore::QtSettingsStore(const QString& file)
{
    if (file.isEmpty()) {
        settings_ = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "NCVELMO");
        return;
    }
    // Reading a FIFO would wait for ever and writing would replace a device
    // with a file: only a regular file (or none yet) is used.
    struct stat st;
    if (::stat(QFile::encodeName(file).constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return;
    settings_ = std::make_unique<QSettings>(file, QSettings::IniFormat);
}

std::string QtSettingsStore::read(std::string_view section, std::string_view key, std::string_view fallback) const
{
    if (!settings_) {
        auto it = memory_.find(keyOf(section, key).toStdString());
        return it == memory_.end() ? std::string(fallback) : it->second;
    }
    QVariant v = settings_->value(keyOf(section, key));
    if (!v.isValid())
        return std::string(fallback);
    return v.toString().toStdString();
}

void QtSettingsStore::write(std::string_view section, std::string_view key, std::string_view value)
{
    if (!settings_) {
        memory_[keyOf(section, key).toStdString()] = std::string(value);
        return;
    }
    settings_->setValue(keyOf(section, key), QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
}

void QtSettingsStore::sync()
{
    if (settings_)
        settings_->sync();
}

QString QtSettingsStore::fileName() const { return settings_ ? settings_->fileName() : QString(); }

} // namespace tarvex
