#include "toolpath/ConditionTable.h"
#include "platform/Blanks.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"

#include <charconv>
#include <optional>

namespace tarvex {

void ConditionTable::reset()
{
    conditionName.fill({});
    conditionColour.fill(white);
    conditionVisible.fill(true);
}

namespace {

// A reader of list records: fields separated by commas, records by line ends,
// text fields optionally in double quotes.
class RecordReader {
public:
    explicit RecordReader(std::string_view text) : t_(text) {}

    std::optional<std::string> textField()
    {
        skipBlanks(true);
        if (pos_ >= t_.size())
            return std::nullopt;
        std::string value;
        if (t_[pos_] == '"') {
            auto close = t_.find('"', pos_ + 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            value = std::string(t_.substr(pos_ + 1, close - pos_ - 1));
            pos_ = close + 1;
            skipBlanks(false);
        } else {
            value = std::string(trimBlanks(rawField()));
        }
        if (!endField())
            return std::nullopt;
        return value;
    }

    std::optional<std::int64_t> integerField()
    {
        skipBlanks(true);
        if (pos_ >= t_.size())
            return std::nullopt;
        std::string_view raw = trimBlanks(rawField());
        std::int64_t value = 0;
        auto res = std::from_chars(raw.data(), raw.data() + raw.size(), value);
        if (raw.empty() || res.ec != std::errc() || res.ptr != raw.data() + raw.size())
            return std::nullopt;
        if (!endField())
            return std::nullopt;
        return value;
    }

private:
    void skipBlanks(bool lineEndsToo)
    {
        while (pos_ < t_.size()
               && (t_[pos_] == ' ' || t_[pos_] == '\t' || (lineEndsToo && (t_[pos_] == '\r' || t_[pos_] == '\n'))))
            ++pos_;
    }
    std::string_view rawField()
    {
        auto end = t_.find_first_of(",\r\n", pos_);
        if (end == std::string_view::npos)
            end = t_.size();
        auto f = t_.substr(pos_, end - pos_);
        pos_ = end;
        return f;
    }
    // A field ends at a comma, a line end or the end of the text.
    bool endField()
    {
        if (pos_ >= t_.size())
            return true;
        char c = t_[pos_];
        if (c == ',') {
            ++pos_;
            return true;
        }
        if (c == '\r') {
            ++pos_;
            if (pos_ < t_.size() && t_[pos_] == '\n')
                ++pos_;
            return true;
        }
        if (c == '\n') {
            ++pos_;
            return true;
        }
        return false;
    }

    std::string_view t_;
    std::size_t pos_ = 0;
};

} // namespace

void parseColourFile(ConditionTable& table, std::string_view text)
{
    RecordReader reader(text);
    for (int k = 1; k < ConditionTable::count; ++k) {
        auto name = reader.textField();
        if (!name)
            return;
        auto colour = reader.integerField();
        if (!colour || *colour < INT32_MIN || *colour > UINT32_MAX)
            return;
        table.conditionName[k] = *name;
        table.conditionColour[k] = static_cast<std::uint32_t>(*colour);
    }
}

std::string formatColourFile(const ConditionTable& table)
{
    std::string out;
    for (int k = 1; k < ConditionTable::count; ++k)
        out += '"' + table.conditionName[k] + "\"," + std::to_string(table.conditionColour[k]) + "\r\n";
    return out;
}

Error loadColourFile(ConditionTable& table, const FileSystem& fs, const TextCodec& codec,
                     const std::string& progDir)
{
    table.reset();
    std::string bytes;
    if (Error e = fs.readFile(joinPath(progDir, colourFileName), bytes, smallFileLimit))
        return e == tooLargeError() ? e : Error{};
    parseColourFile(table, codec.decode(bytes));
    return {};
}

Error saveColourFile(const ConditionTable& table, FileSystem& fs, const TextCodec& codec,
                     const std::string& progDir)
{
    return fs.writeFile(joinPath(progDir, colourFileName), codec.encode(formatColourFile(table)));
}

} // namespace tarvex
