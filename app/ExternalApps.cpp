#include "app/ExternalApps.h"
#include "app/SettingsKeys.h"
#include "editor/LineEnds.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"
#include "platform/TextCodec.h"
#include "platform/TextLines.h"
#include "platform/UiServices.h"

namespace tarvex {

bool isDxfDrawing(std::string_view text)
{
    bool section = false, layer = false, endsec = false;
    TextLines lines(text);
    std::string_view line;
    while (!(section && layer && endsec) && lines.next(line)) {
        section |= line.find("SECTION") != std::string_view::npos;
        layer |= line.find("LAYER") != std::string_view::npos;
        endsec |= line.find("ENDSEC") != std::string_view::npos;
    }
    return section && layer && endsec;
}

std::string handOverCopy(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    TextLines lines(text);
    std::string_view line;
    while (lines.next(line))
        if (!line.empty())
            out.append(line).append("\r\n");
    return out;
}

ExternalApps::ExternalApps(Context context) : c_(std::move(context)) {}

void ExternalApps::load()
{
    using namespace keys;
    browser_ = c_.settings.read(section, WebApl, WebAplDefault);
    for (int i = 0; i < slotCount; ++i) {
        const std::string digit = std::to_string(i);
        apps_[i].title = c_.settings.read(section, digit + AppTitle, "");
        apps_[i].path = c_.settings.read(section, digit + AppName, "");
    }
}

int ExternalApps::count() const
{
    int n = 0;
    while (n < slotCount && !apps_[n].title.empty())
        ++n;
    return n;
}

void ExternalApps::writeSlot(int slot)
{
    const std::string digit = std::to_string(slot);
    c_.settings.write(keys::section, digit + keys::AppTitle, apps_[slot].title);
    c_.settings.write(keys::section, digit + keys::AppName, apps_[slot].path);
}

bool ExternalApps::add(const std::string& path)
{
    // There are ten menu items: an eleventh program could never be started.
    const int n = count();
    if (n >= slotCount) {
        c_.ui.messageBox.show("外部アプリケーションは10個まで登録できます。", {}, MsgIcon::Exclamation);
        return false;
    }
    apps_[n] = {fileTitle(path), path};
    writeSlot(n);
    return true;
}

void ExternalApps::remove(int slot)
{
    if (slot < 0 || slot >= slotCount)
        return;
    for (int k = slot; k < slotCount; ++k) {
        apps_[k] = k + 1 < slotCount ? apps_[k + 1] : ExternalApp{};
        writeSlot(k);
    }
}

std::string ExternalApps::handOverFolder() const { return joinPath(c_.progDir, "handover"); }

void ExternalApps::start(int slot, std::string_view text)
{
    if (slot < 0 || slot >= slotCount || apps_[slot].path.empty())
        return;
    const ExternalApp& app = apps_[slot];
    auto run = [&]() -> Error {
        // The program's bytes from memory; only the hand-over copy is a file,
        // where the registered program expects it.
        const std::string bytes = c_.codec.encode(text);
        c_.ui.events.yield();
        const std::string folder = handOverFolder();
        if (!c_.fs.isFolder(folder))
            if (Error e = c_.fs.makeFolder(folder))
                return e;
        const std::string handOver = joinPath(folder, isDxfDrawing(bytes) ? "BAK.DXF" : "BAK.DAT");
        if (Error e = c_.fs.writeFile(handOver, handOverCopy(bytes), false))
            return e;
        c_.ui.events.yield();
        // The program runs in the hand-over folder with the copy as its one argument.
        return c_.ui.launcher.start(app.path, {handOver}, folder);
    };
    if (run())
        c_.ui.messageBox.show(app.path + "へ接続出来ませんでした");
}

void ExternalApps::startConverter(std::string_view text)
{
    const std::string folder = c_.settings.read(keys::morlexSection, keys::Apldir, "");
    if (folder.empty()) {
        c_.ui.messageBox.show("NCｺﾝﾊﾞｰﾀをセットアップして下さい。");
        return;
    }
    auto run = [&]() -> Error {
        if (Error e = c_.fs.writeFile(joinPath(folder, "BAK.DAT"), normaliseLineEnds(c_.codec.encode(text)), false))
            return e;
        c_.ui.events.yield();
        // The converter is "morlex" here; a copy named as on Windows serves too.
        std::string program = joinPath(folder, "morlex");
        if (!c_.fs.exists(program) && c_.fs.exists(joinPath(folder, "morlex.exe")))
            program = joinPath(folder, "morlex.exe");
        return c_.ui.launcher.start(program, {"BAK.DAT"}, folder);
    };
    if (run())
        c_.ui.messageBox.show("NCｺﾝﾊﾞｰﾀへ接続出来ませんでした。");
}

void ExternalApps::chooseBrowser()
{
    FileChooser& chooser = c_.ui.chooser;
    chooser.title = "ブラウザの選択";
    chooser.fileName.clear();
    chooser.filter = "ｱﾌﾟﾘｹｰｼｮﾝ(*.EXE)|*.EXE|全て(*.*)|*.*";
    chooser.defaultExt.clear();
    chooser.cancelError = true;
    if (chooser.showOpen() != FileChooser::Outcome::Chosen || chooser.fileName.empty())
        return;
    browser_ = chooser.fileName;
    c_.settings.write(keys::section, keys::WebApl, browser_);
    c_.ui.messageBox.show("ブラウザを[ " + fileTitle(browser_) + " ]に設定しました。");
}

void ExternalApps::openHomePage()
{
    // The stored browser first; one that cannot be started here (the default
    // names a Windows program) gives way to the desktop's own.
    if (!c_.ui.launcher.start(browser_, {c_.homePage}, {}, true))
        return;
    if (!c_.ui.launcher.start("xdg-open", {c_.homePage}, {}, true))
        return;
    c_.ui.messageBox.show("ブラウザを起動出来ませんでした。\n" + browser_, {}, MsgIcon::Exclamation);
}

} // namespace tarvex
