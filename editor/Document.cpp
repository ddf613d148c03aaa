#include "editor/Document.h"
#include "editor/LineEnds.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "platform/TextEditor.h"
#include "platform/UiServices.h"

#include <cerrno>
#include <new>

namespace tarvex {

namespace {

std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

} // namespace

std::string documentCaption(const std::string& fileTitle, bool changed)
{
    if (fileTitle.empty())
        return changed ? " Tarvex *" : " Tarvex ";
    return " Tarvex　[ " + fileTitle + (changed ? "* ]" : " ]");
}

std::string Document::caption() const
{
    return documentCaption(path_.empty() ? std::string() : displayName(fileTitle(path_), codec_),
                           editor_.changedSince(TextEditor::Mark::Saved));
}

bool Document::mayReplace()
{
    if (!editor_.changedSince(TextEditor::Mark::Saved))
        return true;
    switch (ui_.messageBox.show("変更を保存しますか？", {}, MsgIcon::Question, MsgButtons::YesNoCancel)) {
    case MsgAnswer::No: return true;
    case MsgAnswer::Yes: return saveInPlace();
    default: return false;
    }
}

Document::Document(TextEditor& editor, FileSystem& fs, const TextCodec& codec, UiServices& ui,
                   std::string progDir, DocumentHost& host)
    : editor_(editor), fs_(fs), codec_(codec), ui_(ui), progDir_(std::move(progDir)), host_(host)
{
}

// The editor's text for a file's bytes, or error 7 when the memory cannot
// hold it: programs have no fixed limit, and the editor keeps its text.
Error Document::editorText(std::string_view bytes, std::string& utf8) const
{
    if (!editor_.canHold(bytes.size())) // known before the decoding takes its share
        return fileError(ENOMEM);
    try {
        utf8 = codec_.decode(bytes);
    } catch (const std::bad_alloc&) {
        return fileError(ENOMEM);
    }
    if (!editor_.canHold(utf8.size())) {
        utf8 = std::string();
        return fileError(ENOMEM);
    }
    return {};
}

Error Document::load(const std::string& path, std::string& bytes)
{
    std::string utf8;
    if (Error e = fs_.readFile(path, bytes))
        return e;
    if (Error e = editorText(bytes, utf8))
        return e;
    setOpenedText(utf8);
    path_ = path;
    host_.remember(path);
    return {};
}

void Document::showOpenError(const Error& e)
{
    ui_.messageBox.show(errorBoxText(e), {}, MsgIcon::Exclamation);
}

std::optional<Document::Chosen> Document::chooseProgram(const std::string& title)
{
    FileChooser& chooser = ui_.chooser;
    chooser.title = title;
    chooser.fileName.clear();
    chooser.filter = allFilesFilter;
    chooser.defaultExt.clear(); // the DXF export leaves ".dxf" on the shared chooser
    chooser.initialFolder = folderOf(host_.documentPath());
    chooser.cancelError = true;
    auto outcome = chooser.showOpen();
    if (outcome == FileChooser::Outcome::Failed) {
        showOpenError(chooser.error);
        return std::nullopt;
    }
    if (outcome == FileChooser::Outcome::Cancelled || chooser.fileName.empty())
        return std::nullopt;
    Chosen c{chooser.fileName, {}, {}};
    Error e = fs_.readFile(c.path, c.bytes);
    if (!e)
        e = editorText(c.bytes, c.utf8);
    if (e) {
        showOpenError(e);
        return std::nullopt;
    }
    return c;
}

void Document::fileload_Click()
{
    // The file is read before the document is cleared: a file that cannot be
    // read must not cost the user the program in the editor.
    if (!mayReplace())
        return;
    auto chosen = chooseProgram("加工プログラムの読み込み");
    if (!chosen)
        return;
    const std::string& path = chosen->path;
    clear();
    setOpenedText(chosen->utf8);
    path_ = path;
    host_.remember(path);
    host_.setCaption(caption());
    host_.LoadSub(path, chosen->bytes);
    if (host_.graphicsMode())
        host_.expandAndPlot();
    host_.setAppendLoadEnabled(true);
}

void Document::MnuAppendLoad_Click()
{
    // The old text and the appended file are joined in memory: no work file
    // another process could change meanwhile, none a data folder could refuse.
    std::string bytes = codec_.encode(editor_.textView());
    FileChooser& chooser = ui_.chooser;
    chooser.title = "プログラムの追加読み込み";
    chooser.fileName.clear();
    chooser.filter = allFilesFilter;
    chooser.defaultExt.clear();
    chooser.initialFolder = folderOf(host_.documentPath());
    chooser.cancelError = true;
    auto outcome = chooser.showOpen();
    if (outcome == FileChooser::Outcome::Failed)
        return showOpenError(chooser.error);
    if (outcome == FileChooser::Outcome::Cancelled || chooser.fileName.empty())
        return;
    const std::string path = chooser.fileName;
    // The file's bytes follow the old text with nothing between them.
    std::string appended, utf8;
    if (Error e = fs_.readFile(path, appended))
        return showOpenError(e);
    try {
        bytes += appended;
    } catch (const std::bad_alloc&) {
        return showOpenError(fileError(ENOMEM));
    }
    if (Error e = editorText(bytes, utf8))
        return showOpenError(e);
    editor_.setText(utf8);
    editor_.noteChange(); // the joined text is in no file yet
    // The document stays the file it was: saving in place must never write
    // the joined text over the file that was appended.
    host_.setCaption(caption());
    host_.LoadSub(path, appended);
    if (host_.graphicsMode())
        host_.expandAndPlot();
}

void Document::setOpenedText(std::string_view utf8)
{
    editor_.setText(utf8);
    editor_.noteChange();
    editor_.mark(TextEditor::Mark::Saved);
}

void Document::MnuSave_Click() { save(); }

bool Document::saveInPlace() { return path_.empty() ? save() : write(path_); }

bool Document::save()
{
    FileChooser& chooser = ui_.chooser;
    chooser.title = "ファイルの保存";
    chooser.fileName = path_.empty() ? host_.documentPath() : path_;
    chooser.filter = allFilesFilter;
    chooser.defaultExt.clear();
    chooser.cancelError = true;
    auto showSaveError = [this](const Error& e) {
        ui_.messageBox.show(e.description, "TARVEX", MsgIcon::Exclamation);
    };
    auto outcome = chooser.showSave();
    if (outcome == FileChooser::Outcome::Failed) {
        showSaveError(chooser.error);
        return false;
    }
    if (outcome == FileChooser::Outcome::Cancelled || chooser.fileName.empty())
        return false;
    if (!write(chooser.fileName))
        return false;
    path_ = chooser.fileName;
    host_.remember(path_);
    host_.setCaption(caption());
    return true;
}

bool Document::write(const std::string& path)
{
    const std::string bytes = codec_.encode(editor_.textView());
    editor_.mark(TextEditor::Mark::Saved); // an edit during the write below is not in the file
    ui_.events.yield();
    // Written atomically: a failed save leaves the old file as it was.
    if (Error e = fs_.writeFile(path, normaliseLineEnds(bytes))) {
        editor_.noteChange();
        ui_.messageBox.show(e.description, "TARVEX", MsgIcon::Exclamation);
        return false;
    }
    host_.setCaption(caption());
    return true;
}

void Document::clea_Click()
{
    if (mayReplace())
        clear();
}

void Document::clear()
{
    setOpenedText({});
    path_.clear();
    host_.clearViews();
    host_.setCaption(caption());
}

void Document::dropFiles(const std::vector<std::string>& paths)
{
    if (!paths.empty() && mayReplace())
        openFile(paths.front(), true);
}

void Document::openRecent(const std::string& path)
{
    if (mayReplace())
        openFile(path, false);
}

void Document::openFile(const std::string& path, bool dropped)
{
    std::string bytes;
    if (Error e = load(path, bytes))
        return showOpenError(e);
    ui_.events.yield();
    host_.setCaption(caption());
    host_.LoadSub(path, bytes);
    ui_.events.yield();
    // A drop plots whether or not graphics mode is on.
    if (dropped || host_.graphicsMode())
        host_.expandAndPlot();
    host_.setAppendLoadEnabled(true);
}

} // namespace tarvex
