#pragma once
#include "toolpath/Marking.h"
#include "toolpath/Segments.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvex {

class DrawingSurface;
class FileSystem;
class MessageBox;
class TextCodec;

// The marking editor's files: the list of the marking folder, loading one,
// saving one under a name that can be nothing but a file of that folder.
class MarkingEditor {
public:
    MarkingEditor(FileSystem& fs, const TextCodec& codec, std::string progDir, MessageBox& box);

    // The files of the marking folder, in listing order.
    std::vector<std::string> names() const;
    // nullopt when the file cannot be read.
    std::optional<MarkingFile> load(const std::string& name) const;
    // Writes the file (atomically) and says so; a name that is no plain file
    // name is refused with a message, a failed write shows its description.
    bool save(const std::string& name, const MarkingFile& marking);

private:
    std::string folder() const;
    FileSystem& fs_;
    const TextCodec& codec_;
    std::string progDir_;
    MessageBox& box_;
};

// The editor's preview of a drawing: lines without X or Y are left out; G
// sets the motion, X and Y move, I and J give the centre (0 when absent) or
// R does (at most 180 degrees for a positive R, at least for a negative one).
// Its own segments: the main plot's path stays as it is.
std::vector<PathSegment> markingPreview(std::string_view drawing);
// Draws the preview from (0, 0) on the area within 5 mm of it, fitted to the
// surface with the aspect kept.
void drawMarkingPreview(DrawingSurface& surface, const std::vector<PathSegment>& segments, int penWidth,
                        std::uint32_t colour);

} // namespace tarvex
