#pragma once
#include <array>

namespace tarvex {

// The main window's menus and items, named as their controls.
enum class Menu {
    filemenu, fileload, MnuAppendLoad, MnuCompare, MnuOverwrite, MnuSave, MnuDxfSave, MnuSubPro, MnuSubDel, MnuExitSubDel,
    clea, MnuRecent, MnuRecent0, MnuRecent1, MnuRecent2, MnuRecent3, MnuRecent4, MnuRecent5, MnuRecent6, MnuRecent7,
    endprogram,
    MnuEdit, MnuUndo, MnuRedo, MnuCut, MnuCopy, MnuPaste, MnuSelectAll, MnuKensaku, MnuFindNext, MnuFindPrev, MnuHenkan,
    MnuGyoHenkan, MnuGoto, MnuSpDel, MnuPartyCheck, MnuISOCheck, MnuEIACheck, MnuFont,
    MnuView, MnuTusin, MnuGrph, MnuGrhGcode, MnuG90, MnuG91, MnuMEdit,
    MnuOption, MnuRestart, MnuMonitor, MnuRenumber, MnuColours, MnuWWW, MnuApSet, MnuMorlex,
    MnuApp0, MnuApp1, MnuApp2, MnuApp3, MnuApp4, MnuApp5, MnuApp6, MnuApp7, MnuApp8, MnuApp9,
    MnuHelp, MnuHelpText, MnuHomePage, MnuVar,
};

inline Menu appMenu(int slot) { return static_cast<Menu>(static_cast<int>(Menu::MnuApp0) + slot); }
inline constexpr int recentCount = 8;
inline Menu recentMenu(int k) { return static_cast<Menu>(static_cast<int>(Menu::MnuRecent0) + k); }

struct MenuEntry {
    Menu id;
    const char* name;    // control name; external application items are "MnuApp(i)"
    const char* caption; // exactly as shown, access keys marked with "&"
    const char* keys;    // its shortcut, as Qt writes it; "" for none
    int level;           // 0 menu bar, 1 item, 2 item of a submenu
    bool check;          // carries a check mark
    bool separatorAfter;
    bool built;          // its command works; items of commands still to come are disabled
};

// In display order: each entry belongs to the last entry of the level above it.
extern const std::array<MenuEntry, 68> menuTree;

const MenuEntry& menuEntry(Menu id);

} // namespace tarvex
