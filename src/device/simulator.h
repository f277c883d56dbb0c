// The simulated module behind the port name "SIMULATOR": canned replies to
// the updater's commands, without hardware.
#pragma once

// The connection number of the simulated device. It lies outside the
// serial connection table, so serial operations reject it.
enum { SIMULATOR_CONNECTION = 500 };

// The firmware version the simulated module reports once it has been
// through update mode.
extern const char simulatorUpdatedVersion[];

// Takes one write of the AT channel or the update protocol and prepares
// its reply. Returns `length`, always; the connection is ignored.
int SimulatorWrite(int connection, const void *bytes, int length);

// Hands out the pending reply: one byte per single-byte read; a longer read
// copies from the same position each time and returns the count copied.
// Returns 0 (and forgets the reply) once it has all been read. Never
// waits: the connection and the time-out are ignored.
int SimulatorRead(int connection, void *buffer, int length, int timeoutMs);

// Back to AT mode with no reply pending. The product never calls it: one
// simulated module lives for the whole process.
void SimulatorReset();
