#pragma once
#include "platform/SettingsStore.h"

#include <QSettings>
#include <map>
#include <memory>
#include <string>

namespace tarvex {

// The settings store over QSettings in INI form: by default the user's
// configuration folder (NCVELMO.ini), or the file given.
class QtSettingsStore final : public SettingsStore {
public:
    explicit QtSettingsStore(const QString& file = {});
    std::string read(std::string_view section, std::string_view key, std::string_view fallback) const override;
    void write(std::string_view section, std::string_view key, std::string_view value) override;
    void sync();
    QString fileName() const;
    // False when the file named is no regular file (a FIFO, a device): the
    // settings then live in memory for this run, and nothing touches it.
    bool usable() const { return settings_ != nullptr; }
    // Whether it is not used because it is too large to be a settings file.
    bool tooLarge() const { return tooLarge_; }

private:
    std::unique_ptr<QSettings> settings_;
    std::map<std::string, std::string> memory_;
    bool tooLarge_ = false;
};

} // namespace tarvex
