// Random programs and store files through the subprogram store, the
// expansion, the plotting pass and the DXF writer: nothing may crash, hang
// or touch memory it does not own.
#include "platform/posix/Cp932Codec.h"
#include "tests/fakes/Fakes.h"
#include "toolpath/Graphics.h"
#include "toolpath/SubprogramStore.h"
#include "toolpath/ConditionTable.h"

#include <cstdint>

using namespace tarvex;

namespace {

class NullSurface final : public DrawingSurface {
public:
    int width() const override { return 64; }
    int height() const override { return 48; }
    void setUserCoordinates(float, float, float, float) override {}
    void clear() override {}
    void setPenStyle(PenStyle) override {}
    void setPenWidth(int) override {}
    void dot(float, float, std::uint32_t) override {}
    void line(float, float, float, float, std::uint32_t) override {}
    void arc(float, float, float, std::uint32_t, float, float) override {}
    void present() override {}
};

const Cp932Codec& codec()
{
    static const Cp932Codec c;
    return c;
}

SegmentTable& table()
{
    static SegmentTable t;
    return t;
}

} // namespace

// The input: the program, then store files and a marking, separated by "\n#\n".
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        auto cut = input.find("\n#\n", from);
        parts.push_back(input.substr(from, cut == std::string_view::npos ? cut : cut - from));
        if (cut == std::string_view::npos || parts.size() == 6)
            break;
        from = cut + 3;
    }
    fakes::MemoryFileSystem fs;
    for (const char* f : {"/h", "/h/SUBPRO", "/h/Mcode", "/d"})
        fs.folders.insert(f);
    fs.files["/d/p.nc"] = std::string(parts[0]);
    const char* names[] = {"O1", "O2", "L1", "O100"};
    for (std::size_t k = 1; k < parts.size() && k <= 4; ++k)
        fs.files[std::string("/h/SUBPRO/") + names[k - 1]] = std::string(parts[k]);
    if (parts.size() > 5)
        fs.files["/h/Mcode/M08"] = std::string(parts[5]);

    ConditionTable conditions;
    conditions.conditionName[1] = "T1";
    conditions.conditionName[2] = "D1.5";
    SubprogramStore store(fs, codec(), "/h/");
    store.LoadSub("/d/p.nc");
    Graphics g(fs, codec(), "/h/", table(), conditions);
    g.subprogramLineBudget = 20000;
    g.showMarkings = g.showRapids = size % 2 == 0;
    g.blockSkip = size % 3 == 0;
    const std::string text = codec().decode(parts[0]);
    g.WirFmt(text);
    NullSurface surface;
    g.GrSub(surface);
    fakes::FakeEvents events;
    g.DxfSave(text, events);
    return 0;
}
