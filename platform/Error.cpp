#include "platform/Error.h"
#include "platform/UiServices.h"

#include <cerrno>
#include <cstring>

namespace tarvex {

Error fileError(int e)
{
    switch (e) {
    case 0: return {};
    case ENOENT: return {53, "ファイルが見つかりません。"};
    case ENOTDIR: return {76, "パスが見つかりません。"};
    case EACCES:
    case EPERM:
    case EROFS: return {70, "書き込みできません。"};
    case EISDIR: return {75, "パス名またはファイル名が無効です。"};
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return {61, "ディスクの空き容量が不足しています。"}; // a file-size limit, like a full disk
    case EMFILE:
    case ENFILE: return {67, "ファイルが多すぎます。"};
    case ENOMEM: return {7, "メモリが不足しています。"};
    case ENAMETOOLONG: return {52, "ファイル名または番号が不正です。"};
    default: return {57, std::string("デバイス I/O エラーです。(") + std::strerror(e) + ")"};
    }
}

Error tooLargeError() { return {7, "ファイルが大きすぎます。"}; }

std::string tooLargeMessage(const std::string& shownPath)
{
    return shownPath + "\nファイルが大きすぎるため（1 MB まで）、読み込みませんでした。";
}

std::string errorBoxText(const Error& e)
{
    return "エラー番号 : " + std::to_string(e.number) + "\n" + e.description;
}

} // namespace tarvex
