#include "serial/DeviceProfile.h"
#include "platform/Blanks.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"
#include "platform/TextCodec.h"
#include "serial/ProfileFolder.h"
#include "platform/SerialPort.h"
#include "serial/TapeCode.h"
#include "platform/Numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <cstdio>

namespace tarvex {

const std::array<const char*, 8> portEntries = {"Com1", "Com2", "Com3", "Com4", "Com5", "Com6", "Com7", "Com8"};
// The standard rates, up to what current controls drip feed at.
const std::array<const char*, 11> baudEntries = {"110",  "300",   "600",   "1200",  "2400",  "4800",
                                                 "9600", "19200", "38400", "57600", "115200"};
const std::array<const char*, 3> parityEntries = {"E", "N", "O"};
const std::array<const char*, 2> dataBitEntries = {"7", "8"};
const std::array<const char*, 2> stopBitEntries = {"1", "2"};
const std::array<const char*, 4> handshakeEntries = {"無し", "XOn/XOff", "RTS/CTS", "RTSXOnXOff"};
const std::array<const char*, 3> codeEntries = {"ASCII", "EIA", "ISO"};
const std::array<const char*, 3> partnerEntries = {"ﾊﾟﾝﾁｬｰ", "制御装置", "検査機器"};

namespace {

// The fields of a list-record text: each ends at a comma or a line end; a
// field in double quotes is taken without them.
class Fields {
public:
    explicit Fields(std::string_view text) : t_(text) {}
    std::optional<std::string> next()
    {
        while (pos_ < t_.size() && (t_[pos_] == ' ' || t_[pos_] == '\t'))
            ++pos_;
        if (pos_ >= t_.size())
            return std::nullopt;
        std::string value;
        if (t_[pos_] == '"') {
            auto close = t_.find('"', pos_ + 1);
            if (close == std::string_view::npos)
                close = t_.size();
            value = std::string(t_.substr(pos_ + 1, close - pos_ - 1));
            pos_ = std::min(close + 1, t_.size());
            skipTo(",\r\n");
        } else {
            auto end = t_.find_first_of(",\r\n", pos_);
            if (end == std::string_view::npos)
                end = t_.size();
            value = std::string(trimBlanks(t_.substr(pos_, end - pos_)));
            pos_ = end;
        }
        endField();
        return value;
    }

private:
    void skipTo(const char* set)
    {
        auto end = t_.find_first_of(set, pos_);
        pos_ = end == std::string_view::npos ? t_.size() : end;
    }
    void endField()
    {
        if (pos_ < t_.size() && t_[pos_] == ',') {
            ++pos_;
        } else if (pos_ < t_.size() && t_[pos_] == '\r') {
            ++pos_;
            if (pos_ < t_.size() && t_[pos_] == '\n')
                ++pos_;
        } else if (pos_ < t_.size() && t_[pos_] == '\n') {
            ++pos_;
        }
    }
    std::string_view t_;
    std::size_t pos_ = 0;
};

// A value the field cannot hold (negative, beyond its type) is unreadable:
// the field keeps its value.
template <typename Whole>
void readWhole(Fields& f, Whole& target, bool& more)
{
    auto field = more ? f.next() : std::nullopt;
    more = field.has_value();
    if (!field)
        return;
    if (auto v = parseNumber(*field)) {
        const double r = std::nearbyint(*v); // halves to even, as the integer conversion
        if (r >= 0 && r <= static_cast<double>(std::numeric_limits<Whole>::max()))
            target = static_cast<Whole>(r);
    }
}

void readShort(Fields& f, short& target, bool& more) { readWhole(f, target, more); }

void readText(Fields& f, std::string& target, bool& more)
{
    auto field = more ? f.next() : std::nullopt;
    more = field.has_value();
    if (field)
        target = *field;
}

// A number as a profile writes it: the sign place (a space, or "-"), the
// number without a leading zero before the point, a trailing space.
std::string numberField(double v)
{
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v));
    std::string digits(buf, res.ptr);
    bool negative = !digits.empty() && digits.front() == '-';
    if (negative)
        digits.erase(0, 1);
    if (digits.size() > 1 && digits.rfind("0.", 0) == 0)
        digits.erase(0, 1);
    return (negative ? "-" : " ") + digits + " ";
}

// A text field as written: as held, unless reading it back would not give
// it again (a comma or a line end would split it into fields, outer blanks
// would be trimmed): then in double quotes, which reading takes off.
std::string textField(const std::string& s)
{
    const bool splits = s.find_first_of(",\r\n") != std::string::npos;
    const bool trimmed = !s.empty() && (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t');
    return splits || trimmed ? '"' + s + '"' : s;
}

} // namespace

void parseProfile(std::string_view text, DeviceProfile& p)
{
    Fields f(text);
    bool more = true;
    readShort(f, p.port, more);
    readWhole(f, p.baud, more); // a rate of 38400 and more is beyond 16 bits
    readText(f, p.parity, more);
    readShort(f, p.dataBits, more);
    readShort(f, p.stopBits, more);
    readText(f, p.handshake, more);
    readShort(f, p.code, more);
    readText(f, p.partner, more);
    for (auto& c : p.inCodes)
        readText(f, c, more);
    for (auto& c : p.outCodes)
        readText(f, c, more);
    auto field = more ? f.next() : std::nullopt;
    more = field.has_value();
    if (field)
        if (auto v = parseNumber(*field); v && *v >= 0 && *v <= maxTimeout)
            p.timeout = *v;
    readShort(f, p.wait, more);
}

std::string formatProfile(const DeviceProfile& p)
{
    std::string out;
    auto line = [&](const std::string& s) { out += s + "\r\n"; };
    line(numberField(p.port));
    line(numberField(p.baud));
    line(textField(p.parity));
    line(numberField(p.dataBits));
    line(numberField(p.stopBits));
    line(textField(p.handshake));
    line(numberField(p.code));
    line(textField(p.partner));
    for (const auto& c : p.inCodes)
        line(textField(c));
    for (const auto& c : p.outCodes)
        line(textField(c));
    line(numberField(p.timeout));
    line(numberField(p.wait));
    return out;
}

Error LoadProfile(const std::string& name, DeviceProfile& profile, const FileSystem& fs, const TextCodec& codec,
                  const std::string& progDir)
{
    if (!isPlainFileName(name))
        return {};
    std::string bytes;
    // A missing file leaves every field as it was.
    if (Error e = fs.readFile(joinPath(profileFolder(progDir), name), bytes, smallFileLimit))
        return e == tooLargeError() ? e : Error{};
    parseProfile(codec.decode(bytes), profile);
    return {};
}

Error SaveProfile(const std::string& name, const DeviceProfile& profile, FileSystem& fs, const TextCodec& codec,
                  const std::string& progDir)
{
    if (!isPlainFileName(name))
        return {52, "登録名にはファイル名に使えない文字を含めないで下さい。"};
    if (!fs.isFolder(profileFolder(progDir)))
        if (Error e = fs.makeFolder(profileFolder(progDir)))
            return e;
    return fs.writeFile(joinPath(profileFolder(progDir), name), codec.encode(formatProfile(profile)));
}

std::optional<unsigned char> controlCode(std::string_view text)
{
    if (text == "-")
        return std::nullopt;
    double v = leadingValue(text);
    if (!std::isfinite(v))
        v = 0; // beyond any number: not a number
    return static_cast<unsigned char>(static_cast<long long>(std::fmod(std::nearbyint(v), 256.0) + 256) % 256);
}

bool validControlCode(std::string_view text)
{
    if (text == "-")
        return true;
    const double v = std::nearbyint(leadingValue(text));
    return std::isfinite(v) && v >= 0 && v <= 255;
}

std::optional<PanelArrangement> panelFor(std::string_view partner)
{
    using O = PanelArrangement::Output;
    using I = PanelArrangement::Input;
    if (partner == "0")
        return PanelArrangement{O::Command10, I::Command20, true, true, true, true, false};
    if (partner == "1")
        return PanelArrangement{O::Command1, I::Command2, true, true, true, true, true};
    if (partner == "2")
        return PanelArrangement{O::Command1, I::Command21, false, true, false, false, false};
    return std::nullopt;
}

namespace {

template <std::size_t N> int entryOf(const std::array<const char*, N>& entries, double value)
{
    for (std::size_t k = 0; k < N; ++k)
        if (leadingValue(entries[k]) == value)
            return static_cast<int>(k);
    return -1;
}

int indexIn(int value, int count) { return value >= 0 && value < count ? value : -1; }

} // namespace

ProfileControls controlsFor(const DeviceProfile& p)
{
    ProfileControls c;
    c.port = indexIn(p.port - 1, 8);
    c.baud = entryOf(baudEntries, p.baud);
    c.parity = p.parity == "E" ? 0 : p.parity == "N" ? 1 : p.parity == "O" ? 2 : -1;
    c.dataBits = p.dataBits == 7 ? 0 : p.dataBits == 8 ? 1 : -1;
    c.stopBits = p.stopBits == 1 ? 0 : p.stopBits == 2 ? 1 : -1;
    c.handshake = indexIn(static_cast<int>(leadingValue(p.handshake)), 4);
    c.code = indexIn(p.code, 3);
    c.partner = indexIn(static_cast<int>(leadingValue(p.partner)), 3);
    c.inCodes = p.inCodes;
    c.outCodes = p.outCodes;
    c.timeout = formatPattern(static_cast<double>(p.timeout), "##0.0");
    c.wait = formatPattern(static_cast<double>(p.wait), "###0");
    return c;
}

DeviceProfile profileFrom(const ProfileControls& c)
{
    auto entry = [](const auto& entries, int k) { return k >= 0 && k < static_cast<int>(entries.size()) ? entries[k] : ""; };
    auto toShort = [](double v) {
        v = std::nearbyint(v);
        return static_cast<short>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
    };
    DeviceProfile p;
    p.port = static_cast<short>(c.port + 1);
    p.baud = static_cast<int>(leadingValue(entry(baudEntries, c.baud)));
    p.parity = entry(parityEntries, c.parity);
    p.dataBits = toShort(leadingValue(entry(dataBitEntries, c.dataBits)));
    p.stopBits = toShort(leadingValue(entry(stopBitEntries, c.stopBits)));
    p.handshake = std::to_string(c.handshake);
    p.code = static_cast<short>(c.code);
    p.partner = std::to_string(c.partner);
    p.inCodes = c.inCodes;
    p.outCodes = c.outCodes;
    const double timeout = leadingValue(c.timeout);
    p.timeout = static_cast<float>(std::fabs(timeout) <= 3.4e38 ? timeout : 0);
    p.wait = toShort(leadingValue(c.wait));
    return p;
}

std::string limitTimeout(std::string_view text)
{
    const double v = leadingValue(text);
    if (v == 0)
        return "0";
    return v > 10 ? "10.0" : formatPattern(v, "##0.0");
}

std::string limitWait(std::string_view text)
{
    const double v = leadingValue(text);
    if (v > 1000)
        return "1000";
    if (v <= 0)
        return "0";
    const std::string shown = formatPattern(v, "###");
    return shown.empty() ? "0" : shown;
}

bool transferHandlesDcCodes(const DeviceProfile& p)
{
    if (const double h = leadingValue(p.handshake); h != 1 && h != 3)
        return false;
    for (std::size_t k = 0; k < 3; ++k)
        if (const auto c = controlCode(p.outCodes[k]); c && ((*c & 0x7F) == 0x11 || (*c & 0x7F) == 0x13))
            return true;
    return false;
}

bool dataParityHolds(const DeviceProfile& profile, unsigned char b)
{
    if (profile.dataBits != 8 || (profile.code != 1 && profile.code != 2))
        return true;
    return parityHolds(b, profile.code == 1 ? TapeCode::Eia : TapeCode::Iso);
}

bool inputCode(const DeviceProfile& profile, std::optional<unsigned char> code, unsigned char b)
{
    return profile.code == 0 ? code == b : sameCode(code, b);
}

bool codeAmongData(const DeviceProfile& profile, std::optional<unsigned char> code, unsigned char b)
{
    if (!code || b == *code)
        return code.has_value();
    if ((profile.code != 1 && profile.code != 2) || ((b ^ *code) & 0x7F) != 0)
        return false;
    return dataParityHolds(profile, b);
}

} // namespace tarvex
