#pragma once
#include <array>

namespace tarvex {

// The main window's menus and items, named as their controls.
enum class Menu {
    filemenu, fileload, MnuAppendLoad, MnuCompare, MnuSave, MnuDxfSave, MnuSubPro, MnuSubDel, MnuExitSubDel, clea, endprogram,
    MnuEdit, MnuKensaku, MnuHenkan, MnuGyoHenkan, MnuSpDel, MnuPartyCheck, MnuISOCheck, MnuEIACheck, MnuFont,
    MnuView, MnuTusin, MnuGrph, MnuGrhGcode, MnuG90, MnuG91, MnuMEdit,
    MnuOption, MnuRestart, MnuMonitor, MnuRenumber, MnuColours, MnuWWW, MnuApSet, MnuMorlex,
    MnuApp0, MnuApp1, MnuApp2, MnuApp3, MnuApp4, MnuApp5, MnuApp6, MnuApp7, MnuApp8, MnuApp9,
    MnuHelp, MnuHomePage, MnuVar,
};

inline Menu appMenu(int slot) { return static_cast<Menu>(static_cast<int>(Menu::MnuApp0) + slot); }

struct MenuEntry {
    Menu id;
    const char* name;    // control name; external application items are "MnuApp(i)"
    const char* caption; // exactly as shown, access keys marked with "&"
    int level;           // 0 menu bar, 1 item, 2 item of a submenu
    bool check;          // carries a check mark
    bool separatorAfter;
    bool built;          // its command works; items of commands still to come are disabled
};

// In display order: each entry belongs to the last entry of the level above it.
extern const std::array<MenuEntry, 48> menuTree;

const MenuEntry& menuEntry(Menu id);

} // namespace tarvex
