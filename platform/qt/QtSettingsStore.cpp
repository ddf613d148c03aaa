#include "platform/qt/QtSettingsStore.h"

#include "platform/FileSystem.h"

#include <QFile>
#include <QStandardPaths>
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
    const QString path = file.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/NCVELMO.ini"
                             : file;
    // Reading a FIFO would wait for ever and writing would replace a device
    // with a file: only a regular file (or none yet) is used. Nor is a file
    // of more than a few KB ours: it is left as it is.
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        tooLarge_ = S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > smallFileLimit;
        if (!S_ISREG(st.st_mode) || tooLarge_)
            return;
    }
    settings_ = file.isEmpty() ? std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "NCVELMO")
                               : std::make_unique<QSettings>(file, QSettings::IniFormat);
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
