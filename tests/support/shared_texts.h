// Texts that several test files use as they stand, defined once: the
// sanitizer configuration compiles several test files as one unit, where
// two definitions of one name would clash.
#pragma once

// The module's port as the fakes name it.
inline constexpr char com7[] = "\\\\.\\COM7";
// The log's first line of every run.
inline constexpr char banner[] = "===FW upgrade started ===\r\r\n";
// The connection manager's key, which says where it is installed.
inline constexpr char kvtKey[] = "HKLM\\SOFTWARE\\Corvin\\CorvinPanel\\KVT";
// The module's answer to the update-state query, echo included.
inline constexpr char updateStateReply[] = "AT*QESFUD?\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n";
