// The upgrade log's record format: the marks its records are made of, for
// the writer (upgrade_log.cpp), the reader (upgrade_log_read.cpp) and
// anyone who must recognise a record. The bytes are the system's own:
// support's tools read them. The file is written as text mode writes it,
// so each "\n" here lands as CR LF and each "\r\n" as CR CR LF.
//
// One run appends, in this order (docs/architecture.md, "The upgrade log"):
//
//   ===FW upgrade started ===\r\n                   at start, before the command line is read
//   Send DISCONNECT_KVT\r\n ... Done ...\r\n         the connection manager (app/entry.cpp)
//   QuillonDlg Cancel Pressed\r\n                    or, on OK, the run header:
//   Time: Wed Jan  2 02:03:55 1980\n                 ctime's form, the program's own names
//   Quillon: <caption>\r\n
//   Driver version: <version>\r\n
//   Driver package version: <version>\r\n
//   FW version: <current> -> <target>\r\n
//   HW version: <product number and revision>\r\n
//   QuillonDlg OK Pressed\r\n
//   \nFORCED UPGRADE\n                               a forced run the rules let through
//   Quillon: Optional assignment 1 done\r\n          or "failed" (app/worker.cpp)
//   Send CONNECT_KVT\r\n ... Done ...\r\n
//   \r\nRESULT (N): <text>\r\n                       the exit code and its text
//   \r\n=== FW Update finished ===\r\n\r\n
#pragma once

inline constexpr char upgradeLogBanner[] = "===FW upgrade started ===\r\n";

// The run header, written when OK is pressed.
inline constexpr char upgradeLogTimeMark[] = "Time: ";
inline constexpr char upgradeLogDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline constexpr char upgradeLogMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
inline constexpr char upgradeLogProgramMark[] = "Quillon: ";
inline constexpr char upgradeLogDriverMark[] = "Driver version: ";
inline constexpr char upgradeLogDriverPackageMark[] = "Driver package version: ";
inline constexpr char upgradeLogFirmwareMark[] = "FW version: ";
inline constexpr char upgradeLogFirmwareArrow[] = " -> ";
inline constexpr char upgradeLogHardwareMark[] = "HW version: ";

inline constexpr char upgradeLogForced[] = "\nFORCED UPGRADE\n";

// The result record: "\r\n", the mark, the code, the separator, the text
// (UpgradeLogResultText), then the closing line.
inline constexpr char upgradeLogResultMark[] = "RESULT (";
inline constexpr char upgradeLogResultSeparator[] = "): ";
inline constexpr char upgradeLogClosing[] = "\r\n=== FW Update finished ===\r\n\r\n";
