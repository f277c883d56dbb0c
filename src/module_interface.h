// What the updater sends to the module and what it relies on in return:
// every command text with its time-out, and every reply text it looks for.
#pragma once

// The line speed every caller opens the module's port with (8N1).
enum { MODULE_BAUD = 9600 };

// A command goes out as its text followed by CR LF; the AT channel adds
// the CR LF. The time-out is in milliseconds and applies to each byte of
// the reply.
struct ModuleCommand {
  const char *text;
  int timeoutMs;
};

// Mode probes when a port is opened: a module in AT mode completes the
// first, one in update mode only the second.
inline constexpr ModuleCommand cmdModelProbe = {"AT+CGMM", 1000};
inline constexpr ModuleCommand cmdUpdateModeProbe = {"vers=1", 1000};

// Identification, tried in this order; the last one is the old firmware's
// form, asked only when the others leave the model out.
inline constexpr ModuleCommand cmdVersionQuery = {"AT*QVERS", 4000};
inline constexpr ModuleCommand cmdVersionQuery2 = {"AT*QVER2", 4000};
inline constexpr ModuleCommand cmdVersionQueryOld = {"AT*QVER", 4000};

// SIM state and unlock. The code is sent as the quoted value of the entry
// command: "AT+CPIN=\"1234\"".
inline constexpr ModuleCommand cmdPinQuery = {"AT+CPIN?", 4000};
inline constexpr ModuleCommand cmdPinEntry = {"AT+CPIN", 4000};

// The update-state query, from the dialogs; the update-mode link asks the
// same text with its own longer time-out.
inline constexpr ModuleCommand cmdUpdateStateQuery = {"AT*QESFUD?", 4000};

// The update-mode link gives the module a minute per command: it may be
// busy finishing a restart.
enum { MODULE_LINK_TIMEOUT_MS = 60000 };
inline constexpr ModuleCommand cmdLinkUpdateStateQuery = {"AT*QESFUD?", MODULE_LINK_TIMEOUT_MS};
inline constexpr ModuleCommand cmdEchoOff = {"ATE0", MODULE_LINK_TIMEOUT_MS};
// Switches into update mode; index = the number after "=" minus 1. The
// full update uses "=3".
inline constexpr ModuleCommand cmdUpdateModeSwitch[3] = {
    {"AT*QESFUD=1", MODULE_LINK_TIMEOUT_MS},
    {"AT*QESFUD=2", MODULE_LINK_TIMEOUT_MS},
    {"AT*QESFUD=3", MODULE_LINK_TIMEOUT_MS},
};

// Restart and hand-back after a package; their replies are ignored, the
// restart shows only as the port going away.
inline constexpr ModuleCommand cmdRestart = {"AT*Q2RESET", 5000};
inline constexpr ModuleCommand cmdBack = {"AT+BACK", 5000};

// Framed messages in update mode: a 24-byte reply to each header with its
// chunk, one more after the last chunk, then a final result line.
enum {
  MODULE_HEADER_SIZE = 24,
  MODULE_FRAME_REPLY_TIMEOUT_MS = 120000,
  MODULE_FINAL_LINE_TIMEOUT_MS = 10000,
};

// Reply lines end with LF; the module's own lines end with CR LF.
inline constexpr char moduleLineEnd[] = "\r\n";

// Final result lines. A line that begins with a prefix row, or contains a
// substring row, ends the reply; a substring row wins over a prefix row,
// so "OK ...: Error" is a failure. Comparisons are case-sensitive.
struct ModuleFinalLine {
  const char *text;
  bool success;
};
inline constexpr ModuleFinalLine moduleFinalPrefixes[] = {
    {"OK", true},
    {"ERROR", false},
};
inline constexpr ModuleFinalLine moduleFinalSubstrings[] = {
    {", OK", true},
    {": Error", false},
    {", ERROR", false},
};

// Unsolicited lines: never part of a reply.
inline constexpr const char *moduleUnsolicitedPrefixes[] = {"RING"};

// A model line naming one of these is the module this updater is for.
inline constexpr const char *moduleModelNames[] = {"M7120x", "C6640"};

// Identification lines have the form label, ". ", value, CR LF; the labels
// in the order of the identity's fields.
inline constexpr const char *moduleInfoLabels[6] = {
    "Model", "Product Number", "Revision", "IMEI Data", "Software Version", "Build Date",
};
inline constexpr char moduleInfoSeparator[] = ". ";

// Replies to the PIN query, for the SIM ready, asking for its PIN, asking
// for its PUK. Searched as substrings, so the second PIN and PUK match too.
inline constexpr const char *modulePinReplies[3] = {
    "+CPIN: READY",
    "+CPIN: SIM PIN",
    "+CPIN: SIM PUK",
};

// The update-state query's information line, "*QESFUD: {state 0, version
// 0x00000020}", carries the protocol version as hex after this label;
// version 32 speaks the magic header form.
inline constexpr char moduleProtocolVersionLabel[] = "version ";
enum { MODULE_MAGIC_PROTOCOL_VERSION = 32 };
