#pragma once
#include <string>

namespace tarvex {

// An error as the user is told of it: a number and a description.
// number 0 means no error.
struct Error {
    int number = 0;
    std::string description;
    explicit operator bool() const { return number != 0; }
    bool operator==(const Error&) const = default;
};

// The usual numbers of file errors, shown in the error boxes.
Error fileError(int errnoValue);
// A file beyond the size its reader takes.
Error tooLargeError();
// The message of a small file (colour, profile, marking, settings) read as
// absent because of its size.
std::string tooLargeMessage(const std::string& shownPath);

} // namespace tarvex
