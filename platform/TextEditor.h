#pragma once
#include "platform/UiServices.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>
#include <cstdint>

namespace tarvex {

// The program editor as the logic sees it: plain text in UTF-8, line ends
// kept as they are. Selections count characters, not bytes: a double-byte
// character counts as one.
class TextEditor {
public:
    virtual ~TextEditor() = default;
    virtual std::string text() const = 0;
    // The text where the editor keeps it, without a copy: valid until the
    // text next changes, so not across a yield to the event loop.
    virtual std::string_view textView() = 0;
    virtual void setText(std::string_view utf8) = 0;
    // Whether a text of this many bytes fits in the memory that can be had.
    virtual bool canHold(std::size_t utf8Bytes) const = 0;
    // Adds text at the end, leaving the rest as it is.
    virtual void appendText(std::string_view utf8) = 0;
    virtual void setReadOnly(bool readOnly) = 0;
    virtual void setFont(const FontSpec& font) = 0;
    // The font last set, by the name it was given.
    virtual FontSpec currentFont() const = 0;
    virtual std::size_t selStart() const = 0;
    virtual std::size_t selLength() const = 0;
    virtual void setSelection(std::size_t start, std::size_t length) = 0;
    // The same in bytes of the UTF-8 text, which a text tool works on: no
    // counting of characters from the start of a long program.
    virtual std::size_t caretByte() const = 0;
    virtual void selectBytes(std::size_t start, std::size_t length) = 0;
    // Replaces the whole text as one step that the user can undo.
    virtual void replaceText(std::string_view utf8) = 0;
    virtual void raise() = 0;
    // Colours of the program's words (0xRRGGBB) by kind, plain text first;
    // none: no colours.
    virtual void setWordColours(const std::vector<std::uint32_t>& rgb) = 0;
    // Marks the text as it is now; modified() tells whether it has changed since.
    virtual void markUnmodified() = 0;
    virtual bool modified() const = 0;

    // Two marks on the one mark above: the text as last plotted, and as last
    // opened or saved. Moving one keeps what the other has seen.
    enum class Mark { Plotted, Saved };
    void mark(Mark m)
    {
        noteChangeIf(modified());
        changed_[static_cast<int>(m)] = false;
        markUnmodified();
    }
    bool changedSince(Mark m) const { return changed_[static_cast<int>(m)] || modified(); }
    // A text set whole, which the editor does not count as a change.
    void noteChange() { noteChangeIf(true); }

private:
    void noteChangeIf(bool c)
    {
        for (bool& d : changed_)
            d = d || c;
    }
    bool changed_[2] = {};
};

} // namespace tarvex
