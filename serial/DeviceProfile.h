#pragma once
#include "platform/Error.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

class FileSystem;
class TextCodec;

// Everything a transfer needs to talk to one machine, as stored in a profile
// file of the folder RS232C (eighteen lines, one field each, CR LF).
struct DeviceProfile {
    short port = 0;             // 1-8: "Com1"-"Com8"
    int baud = 0;               // 110 … 115200
    std::string parity;         // "E", "N" or "O"
    short dataBits = 0;         // 7 or 8
    short stopBits = 0;         // 1 or 2
    std::string handshake;      // "0" none, "1" XOn/XOff, "2" RTS/CTS, "3" both
    short code = 0;             // 0 ASCII, 1 EIA, 2 ISO
    std::string partner;        // "0" puncher, "1" controller, "2" inspection device
    std::array<std::string, 4> inCodes;  // start, request, stop, end: "&H12", "-" …
    std::array<std::string, 4> outCodes;
    float timeout = 0;          // input time-out in seconds, 0 none
    short wait = 0;             // output wait 0 (fast) … 1000 (slow)

    bool operator==(const DeviceProfile&) const = default;
};

// Reads a profile file's text field by field; a field that cannot be read
// (a short file, a garbled number, a number its field cannot hold: negative,
// beyond 16 bits, a time-out beyond a day) keeps its value in profile.
void parseProfile(std::string_view text, DeviceProfile& profile);
inline constexpr float maxTimeout = 86400;
std::string formatProfile(const DeviceProfile& profile);


// An error only for a file too large to be ours (read as absent).
Error LoadProfile(const std::string& name, DeviceProfile& profile, const FileSystem& fs, const TextCodec& codec,
                 const std::string& progDir);
// Writes the profile under a name. A name that is not a plain file name is
// refused before anything is written (error 52).
Error SaveProfile(const std::string& name, const DeviceProfile& profile, FileSystem& fs, const TextCodec& codec,
                  const std::string& progDir);

// What a control code's text is on the line: nullopt for "-" (not used).
std::optional<unsigned char> controlCode(std::string_view text);
// Whether a control code's text is "-" or a number that is one byte (0 to
// 255, rounded): "&H114" or "256" is no code of the line.
bool validControlCode(std::string_view text);

// With XOn/XOff, whether an output start, request or stop code is DC1 or DC3
// (parity bit aside): the driver would take those for its flow control and
// the transfer would never see them, so the transfer handles them itself and
// the driver's output flow control (IXON) stays off.
bool transferHandlesDcCodes(const DeviceProfile& profile);

// Whether a received byte's parity is right for the profile's tape code:
// ISO even, EIA odd, on eight data bits (ASCII and seven bits carry none).
bool dataParityHolds(const DeviceProfile& profile, unsigned char b);
// Whether a byte the partner sends to an input is the code: on its seven
// bits, but whole in ASCII, whose data may use the eighth.
bool inputCode(const DeviceProfile& profile, std::optional<unsigned char> code, unsigned char b);
// Whether a byte among an input's data is the profile's code: as written, or
// on its seven bits where its parity is right for the ISO or EIA code (EIA's
// DC4 comes as &H94), so that a data byte that lost a bit ("4", &HB4, as
// &H94 in ISO) is a parity error and never ends a program as if whole. A
// byte the driver marked is no code; the caller knows the marks.
bool codeAmongData(const DeviceProfile& profile, std::optional<unsigned char> code, unsigned char b);

// The communication panel by partner kind: which button stands in front of
// each place and what is enabled. nullopt for an unknown kind (the panel stays).
struct PanelArrangement {
    enum class Output { Command1, Command10 } output;
    enum class Input { Command2, Command20, Command21 } input;
    bool outputEnabled;
    bool inputEnabled;
    bool slider1Enabled;
    bool check1Enabled; // also cleared when enabled
    bool tapeRun;       // the tape run's button Command11 shows (drip feed to a controller)
};
std::optional<PanelArrangement> panelFor(std::string_view partner);

// The profile dialog's values, as its controls hold them.
struct ProfileControls {
    int port = -1, baud = -1, parity = -1, dataBits = -1, stopBits = -1, handshake = -1, code = -1, partner = -1;
    std::array<std::string, 4> inCodes, outCodes;
    std::string timeout, wait;
};
extern const std::array<const char*, 8> portEntries;
extern const std::array<const char*, 11> baudEntries;
extern const std::array<const char*, 3> parityEntries;
extern const std::array<const char*, 2> dataBitEntries;
extern const std::array<const char*, 2> stopBitEntries;
extern const std::array<const char*, 4> handshakeEntries;
extern const std::array<const char*, 3> codeEntries;
extern const std::array<const char*, 3> partnerEntries;

ProfileControls controlsFor(const DeviceProfile& profile);
// The controls taken into a profile, as both save commands do.
DeviceProfile profileFrom(const ProfileControls& controls);

// The field limits of the dialog, applied when the field is left.
std::string limitTimeout(std::string_view text); // "##0.0", at most 10.0, exactly 0 shows "0"
std::string limitWait(std::string_view text);    // "###", at most 1000, 0 or less shows "0"

} // namespace tarvex
