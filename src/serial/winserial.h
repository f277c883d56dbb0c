// Serial ports by connection number. Discovery of the module's port is
// serial/winserial_discovery.h.
#pragma once

enum {
  SERIAL_CONNECTIONS = 255,  // slots 0..254; slot 0 is never used
  SERIAL_NO_LIMIT = -1,      // a read timeout without limit
};

// Returns a connection number 1..254, or 0 when the port could not be
// opened and configured; then *busy, when given, says whether another
// program holds the port (an exclusive open refused with access denied).
int SerialOpen(const char *path, int baud, bool *busy = nullptr);

// Returns the bytes read (0..length), or -1. timeoutMs counts whole read
// attempts of about one second; -1 reads without limit. A negative length
// or a missing buffer is rejected with -1 like an invalid connection.
int SerialRead(int connection, void *buffer, int length, int timeoutMs);

// Returns the bytes written, 0 when the write failed, -1 for an invalid
// connection (or a negative length, or a missing buffer).
int SerialWrite(int connection, const void *buffer, int length);

void SerialClose(int connection);

// The path the connection was opened with; "" for no open connection.
const char *SerialPortPath(int connection);

// `text` always comes back terminated; empty when the driver does not say.
void SerialQueryDriverVersion(int connection, char *text, int capacity);
