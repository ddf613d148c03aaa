#include "app/MenuTree.h"

namespace tarvex {

const std::array<MenuEntry, 68> menuTree = {{
    {Menu::filemenu, "filemenu", "ファイル(&F)", "", 0, false, false, true},
    {Menu::fileload, "fileload", "ファィルの読み込み...", "Ctrl+O", 1, false, false, true},
    {Menu::MnuAppendLoad, "MnuAppendLoad", "ファィルの追加読み込み...", "", 1, false, false, true},
    {Menu::MnuCompare, "MnuCompare", "プログラムの比較...", "", 1, false, true, true},
    {Menu::MnuOverwrite, "MnuOverwrite", "上書き保存", "Ctrl+S", 1, false, false, true},
    {Menu::MnuSave, "MnuSave", "名前を付けて保存...", "Ctrl+Shift+S", 1, false, true, true},
    {Menu::MnuDxfSave, "MnuDxfSave", "DXF形式で保存", "", 1, false, true, true},
    {Menu::MnuSubPro, "MnuSubPro", "サブプロの削除", "", 1, false, true, true},
    {Menu::MnuSubDel, "MnuSubDel", "今すぐに削除", "", 2, false, false, true},
    {Menu::MnuExitSubDel, "MnuExitSubDel", "Tarvex終了時に削除", "", 2, true, false, true},
    {Menu::clea, "clea", "クリア", "", 1, false, true, true},
    {Menu::MnuRecent, "MnuRecent", "最近使ったファイル", "", 1, false, true, true},
    {Menu::MnuRecent0, "MnuRecent(0)", "", "", 2, false, false, true},
    {Menu::MnuRecent1, "MnuRecent(1)", "", "", 2, false, false, true},
    {Menu::MnuRecent2, "MnuRecent(2)", "", "", 2, false, false, true},
    {Menu::MnuRecent3, "MnuRecent(3)", "", "", 2, false, false, true},
    {Menu::MnuRecent4, "MnuRecent(4)", "", "", 2, false, false, true},
    {Menu::MnuRecent5, "MnuRecent(5)", "", "", 2, false, false, true},
    {Menu::MnuRecent6, "MnuRecent(6)", "", "", 2, false, false, true},
    {Menu::MnuRecent7, "MnuRecent(7)", "", "", 2, false, false, true},
    {Menu::endprogram, "endprogram", "終了", "", 1, false, false, true},

    {Menu::MnuEdit, "MnuEdit", "編集(&E)", "", 0, false, false, true},
    {Menu::MnuUndo, "MnuUndo", "元に戻す", "Ctrl+Z", 1, false, false, true},
    {Menu::MnuRedo, "MnuRedo", "やり直し", "Ctrl+Y", 1, false, true, true},
    {Menu::MnuCut, "MnuCut", "切り取り", "Ctrl+X", 1, false, false, true},
    {Menu::MnuCopy, "MnuCopy", "コピー", "Ctrl+C", 1, false, false, true},
    {Menu::MnuPaste, "MnuPaste", "貼り付け", "Ctrl+V", 1, false, false, true},
    {Menu::MnuSelectAll, "MnuSelectAll", "すべて選択", "Ctrl+A", 1, false, true, true},
    {Menu::MnuKensaku, "MnuKensaku", "検索...", "Ctrl+F", 1, false, false, true},
    {Menu::MnuFindNext, "MnuFindNext", "次を検索", "F3", 1, false, false, true},
    {Menu::MnuFindPrev, "MnuFindPrev", "前を検索", "Shift+F3", 1, false, false, true},
    {Menu::MnuHenkan, "MnuHenkan", "置換...", "Ctrl+H", 1, false, false, true},
    {Menu::MnuGyoHenkan, "MnuGyoHenkan", "行置換...", "", 1, false, false, true},
    {Menu::MnuGoto, "MnuGoto", "行へ移動...", "Ctrl+G", 1, false, true, true},
    {Menu::MnuSpDel, "MnuSpDel", "スペースの削除", "", 1, false, true, true},
    {Menu::MnuPartyCheck, "MnuPartyCheck", "キャラクターチェック", "", 1, false, true, true},
    {Menu::MnuISOCheck, "MnuISOCheck", "ISOコードチェック", "", 2, false, false, true},
    {Menu::MnuEIACheck, "MnuEIACheck", "EIAコードチェック", "", 2, false, false, true},
    {Menu::MnuFont, "MnuFont", "フォント...", "", 1, false, false, true},

    {Menu::MnuView, "MnuView", "表示(&V)", "", 0, false, false, true},
    {Menu::MnuTusin, "MnuTusin", "通信ボックス", "", 1, true, true, true},
    {Menu::MnuGrph, "MnuGrph", "グラフィックス", "", 1, true, true, true},
    {Menu::MnuGrhGcode, "MnuGrhGcode", "グラフィックスモード", "", 1, false, false, true},
    {Menu::MnuG90, "MnuG90", "G90 アブソリュート", "", 2, true, false, true},
    {Menu::MnuG91, "MnuG91", "G91 インクレメンタル", "", 2, true, true, true},
    {Menu::MnuMEdit, "MnuMEdit", "Mコードエディタ", "", 2, false, false, true},

    {Menu::MnuOption, "MnuOption", "オプション(&O)", "", 0, false, false, true},
    {Menu::MnuRestart, "MnuRestart", "ここから出力...", "", 1, false, false, true},
    {Menu::MnuMonitor, "MnuMonitor", "通信モニタ...", "", 1, false, false, true},
    {Menu::MnuRenumber, "MnuRenumber", "シーケンス番号の付け直し...", "", 1, false, false, true},
    {Menu::MnuColours, "MnuColours", "色分けの設定...", "", 1, false, true, true},
    {Menu::MnuWWW, "MnuWWW", "ブラウザの選択...", "", 1, false, true, true},
    {Menu::MnuApSet, "MnuApSet", "外部アプリの設定...", "", 1, false, true, true},
    {Menu::MnuMorlex, "MnuMorlex", "NCコンバータ", "", 1, false, false, true},
    {Menu::MnuApp0, "MnuApp(0)", "", "", 1, false, false, true},
    {Menu::MnuApp1, "MnuApp(1)", "", "", 1, false, false, true},
    {Menu::MnuApp2, "MnuApp(2)", "", "", 1, false, false, true},
    {Menu::MnuApp3, "MnuApp(3)", "", "", 1, false, false, true},
    {Menu::MnuApp4, "MnuApp(4)", "", "", 1, false, false, true},
    {Menu::MnuApp5, "MnuApp(5)", "", "", 1, false, false, true},
    {Menu::MnuApp6, "MnuApp(6)", "", "", 1, false, false, true},
    {Menu::MnuApp7, "MnuApp(7)", "", "", 1, false, false, true},
    {Menu::MnuApp8, "MnuApp(8)", "", "", 1, false, false, true},
    {Menu::MnuApp9, "MnuApp(9)", "", "", 1, false, false, true},

    {Menu::MnuHelp, "MnuHelp", "ヘルプ(&H)", "", 0, false, false, true},
    {Menu::MnuHelpText, "MnuHelpText", "使い方...", "F1", 1, false, false, true},
    {Menu::MnuHomePage, "MnuHomePage", "ホームページへ接続", "", 1, false, false, true},
    {Menu::MnuVar, "MnuVar", "バージョン情報(&V)", "", 1, false, false, true},
}};

const MenuEntry& menuEntry(Menu id)
{
    for (const auto& e : menuTree)
        if (e.id == id)
            return e;
    return menuTree.front();
}

} // namespace tarvex
