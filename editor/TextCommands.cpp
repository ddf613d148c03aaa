#include "editor/TextCommands.h"
#include "platform/TextLines.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"
#include "platform/TextCodec.h"
#include "platform/TextEditor.h"
#include "platform/UiServices.h"

#include <chrono>

namespace tarvex {
namespace {

constexpr const char* registrationFolder = "morlex";
constexpr const char* lastRegistrationSection = "Vospergan";
constexpr const char* lastRegistrationKey = "ConvName";

} // namespace

TextCommands::TextCommands(Context context) : c_(std::move(context)) {}

std::string TextCommands::folder() const { return withSeparator(joinPath(c_.progDir, registrationFolder)); }

bool TextCommands::findNext(const std::string& find)
{
    const std::string text = c_.editor.text();
    // An empty string is never found, and nothing is said about it.
    if (find.empty())
        return false;
    lastFind_ = find;
    if (auto at = tarvex::findNext(text, find, c_.editor.caretByte())) {
        c_.editor.selectBytes(*at, find.size());
        return true;
    }
    c_.ui.messageBox.show("検索文字[ " + find + " ]が見つかりませんでした。");
    return false;
}

bool TextCommands::findPrevious(const std::string& find)
{
    if (find.empty())
        return false;
    lastFind_ = find;
    const std::string_view text = c_.editor.textView();
    const std::size_t caret = c_.editor.caretByte();
    // UTF-8 never matches inside a character: the byte before the caret is far enough.
    if (const std::size_t at = caret == 0 ? std::string_view::npos : text.rfind(find, caret - 1);
        at != std::string_view::npos) {
        c_.editor.selectBytes(at, find.size());
        return true;
    }
    c_.ui.messageBox.show("検索文字[ " + find + " ]が見つかりませんでした。");
    return false;
}

std::size_t TextCommands::lineCount()
{
    const std::string_view text = c_.editor.textView();
    return lineOfByte(text, text.size()) + 1;
}

void TextCommands::goToLine(std::size_t line)
{
    const std::string_view text = c_.editor.textView();
    const auto at = lineOffset(text, line == 0 ? 0 : line - 1);
    c_.editor.selectBytes(at ? *at : lineOffset(text, lineCount() - 1).value_or(0), 0);
}

// A rewrite of the whole text, one step of the editor's undo. It works in
// memory: no work file another process could change under it, none a data
// folder that takes no files could refuse.
void TextCommands::rewrite(const std::function<std::string(const std::string&)>& change)
{
    c_.ui.events.setBusy(true);
    const std::string result = change(c_.editor.text());
    c_.ui.events.yield();
    c_.editor.replaceText(result);
    c_.ui.events.setBusy(false);
}

long TextCommands::renumber(const RenumberOptions& options)
{
    c_.ui.events.setBusy(true);
    Renumbered r = tarvex::renumber(c_.editor.textView(), options);
    c_.ui.events.setBusy(false);
    if (!r.refusal.empty()) {
        c_.ui.messageBox.show(r.refusal, {}, MsgIcon::Exclamation);
        return -1;
    }
    c_.editor.replaceText(r.text);
    c_.ui.messageBox.show("[ " + std::to_string(r.blocks) + " ]個のブロックの番号を"
                          + (options.remove ? "削除しました。" : "付け直しました。"));
    return r.blocks;
}

long TextCommands::replaceAll(const std::string& find, const std::string& with)
{
    long count = 0;
    rewrite([&](const std::string& text) { return tarvex::replaceAll(text, find, with, count); });
    c_.ui.messageBox.show("[ " + std::to_string(count) + " ]個を変換しました。");
    return count;
}

long TextCommands::lineReplace(const std::string& match, const std::string& block)
{
    long count = 0;
    rewrite([&](const std::string& text) { return tarvex::lineReplace(text, match, block, count); });
    if (count > 0)
        c_.ui.messageBox.show(std::to_string(count) + "行を変換しました。");
    return count;
}

void TextCommands::MnuSpDel_Click()
{
    long count = 0;
    rewrite([&](const std::string& text) { return stripSpaces(text, count); });
    c_.ui.events.yield();
    c_.ui.messageBox.show(std::to_string(count) + " 個のスペースを削除しました");
}

void TextCommands::check(TapeCode code)
{
    c_.ui.events.setBusy(true);
    const std::string text = c_.editor.text();
    const std::string bytes = c_.codec.encode(text);
    c_.ui.events.yield();
    // The progress is painted, but no input is let in: the text cannot
    // change under the walk. The eye follows 20 paintings a second; more
    // would cost the walk most of its time.
    const std::string total = "/" + std::to_string(bytes.size());
    auto lastPaint = std::chrono::steady_clock::time_point{};
    auto progress = [&](std::size_t read) {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastPaint >= std::chrono::milliseconds(50)) {
            c_.showStatus(std::to_string(read) + total);
            lastPaint = now;
        }
    };
    const CheckResult r = checkCharacters(text, code, progress);
    c_.CharValid = r.clean;
    const char* name = code == TapeCode::Iso ? "ISO" : "EIA";
    const auto showRead = [&] { c_.showStatus(std::to_string(r.read) + total); };
    if (!r.clean) {
        c_.editor.selectBytes(r.offset, r.length);
        showRead();
        c_.ui.events.setBusy(false);
        c_.ui.messageBox.show(std::string(name) + "コードにない文字を検出しました。");
    }
    c_.ui.events.setBusy(false);
    showRead();
    // The whole text was read, also when the offender was its last character.
    if (r.clean || r.offset + r.length >= text.size())
        c_.ui.messageBox.show(std::string(name) + "コードチェックを完了しました。");
    c_.showStatus({});
}

std::vector<std::string> TextCommands::registrations()
{
    auto names = c_.fs.list(folder());
    if (!names) {
        c_.fs.makeFolder(folder());
        names = c_.fs.list(folder());
    }
    return names.value_or(std::vector<std::string>{});
}

std::string TextCommands::lastRegistration() const
{
    return c_.settings.read(lastRegistrationSection, lastRegistrationKey, "");
}

void TextCommands::rememberRegistration(const std::string& name)
{
    c_.settings.write(lastRegistrationSection, lastRegistrationKey, name);
}

std::optional<Registration> TextCommands::loadRegistration(const std::string& name)
{
    std::string bytes;
    if (!isPlainFileName(name) || c_.fs.readFile(joinPath(folder(), name), bytes)) {
        c_.ui.messageBox.show("プロパティ読み込みエラー", "シリアル通信SYSTEM", MsgIcon::Exclamation);
        return std::nullopt;
    }
    return parseRegistration(c_.codec.decode(bytes));
}

bool TextCommands::registerAs(const std::string& name, const Registration& r)
{
    // The name becomes a file of the registration folder and nothing else.
    if (!isPlainFileName(name)) {
        c_.ui.messageBox.show("登録名にはファイル名に使えない文字を含めないで下さい。", {}, MsgIcon::Exclamation);
        return false;
    }
    if (!c_.fs.isFolder(folder()))
        c_.fs.makeFolder(folder());
    if (Error e = c_.fs.writeFile(joinPath(folder(), name), c_.codec.encode(formatRegistration(r)))) {
        c_.ui.messageBox.show(errorBoxText(e), {}, MsgIcon::Exclamation);
        return false;
    }
    c_.ui.messageBox.show(name + " を登録しました。");
    return true;
}

bool TextCommands::deleteRegistration(const std::string& name)
{
    if (c_.ui.messageBox.show(name + " を削除してよいですか。", {}, MsgIcon::None, MsgButtons::YesNo) != MsgAnswer::Yes)
        return false;
    if (!isPlainFileName(name))
        return false;
    return !c_.fs.removeFile(joinPath(folder(), name));
}

} // namespace tarvex
