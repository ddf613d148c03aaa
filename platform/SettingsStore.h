#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

// The per-user settings store: text values by section and key, always
// under the application "NCVELMO".
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::string read(std::string_view section, std::string_view key,
                             std::string_view fallback) const = 0;
    virtual void write(std::string_view section, std::string_view key, std::string_view value) = 0;
};

// Value forms: booleans "True"/"False"; numbers as the shortest decimal text
// of a single-precision value ("1234", "10.5").
std::string formatBool(bool value);
std::string formatNumber(float value);
std::optional<bool> parseBool(std::string_view text);
std::optional<float> parseNumber(std::string_view text);

// Typed reads: a stored value that does not parse as its type reads as the fallback.
bool readBool(const SettingsStore& s, std::string_view section, std::string_view key, bool fallback);
float readNumber(const SettingsStore& s, std::string_view section, std::string_view key, float fallback);
// A number outside [least, most] cannot be meant: it reads as the fallback.
float readNumberWithin(const SettingsStore& s, std::string_view section, std::string_view key, float fallback,
                       float least, float most);
// A 16-bit integer: rounded like the number it is stored as; out of range reads as the fallback.
int readInt16(const SettingsStore& s, std::string_view section, std::string_view key, int fallback);

void writeBool(SettingsStore& s, std::string_view section, std::string_view key, bool value);
void writeNumber(SettingsStore& s, std::string_view section, std::string_view key, float value);

} // namespace tarvex
