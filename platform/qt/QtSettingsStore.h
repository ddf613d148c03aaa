#pragma once
#include "platform/SettingsStore.h"

#include <QSettings>
#include <memory>

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

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace tarvex
