// A module on a fake port for whole update runs: AT mode with its
// identity, update mode answering each header and chunk, and a restart
// that drops the port and brings it back after so many one-second polls.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_registry.h"

struct WorkerModule {
  std::string path = "\\\\.\\COM7";
  std::string model = "QM7";
  std::string version = "R1D05";
  std::string buildDate = "Jan 5 2009";
  // What a completed package of this length turns the firmware into at
  // the next restart; a length not listed changes the build date only.
  std::map<uint32_t, std::string> installs;
  bool changesBuildDate = true;

  // Polls until the port is back after each restart; -1 never.
  std::vector<int> backAfter = {3, 2};
  bool ignoresRestart = false;  // keeps its port, as if the command were lost
  bool comesBackBlank = false;  // answers no identification
  bool blankAfterRestart = false;  // comes back from a restart answering none
  bool loaderAfterRestart = false;  // its firmware does not start: back in update mode, answering only "vers=1"
  int rejectChunk = 0;          // 1-based chunk answered with this result code...
  uint32_t rejectCode = 3;

  // What happened.
  std::vector<std::string> commands;
  std::vector<uint32_t> packages;  // the length of each completed package
  int restarts = 0;
  int pollsWhileAway = 0;

  // Internal.
  bool updateMode = false;
  bool loader = false;  // back in update mode after a restart
  std::string pendingLine;
  std::string frame;
  uint32_t received = 0;
  int chunks = 0;
  std::string pendingVersion;
  bool away = false;
};

inline std::string WorkerModuleReply(uint32_t payload, uint32_t resultCode) {
  std::string reply = "ZMRK";
  const uint32_t fields[] = {32, 1, resultCode, 0xFFFFFFFFu, payload};
  for (uint32_t field : fields)
    for (int shift = 24; shift >= 0; shift -= 8) reply += (char)((field >> shift) & 0xFF);
  return reply;
}

inline void WorkerModuleCommand(WorkerModule &m, FakePort &port, const std::string &command) {
  m.commands.push_back(command);
  if (command == "AT*QVERS") {
    if (m.comesBackBlank) {
      port.input += "\r\nERROR\r\n";
      return;
    }
    port.input += "\r\nModel. " + m.model + "\r\nProduct Number. QHW 552 08/101\r\nRevision. R1J\r\n" +
                  "IMEI Data. 0044 0170 1234 567\r\nSoftware Version. " + m.version + "\r\nBuild Date. " +
                  m.buildDate + "\r\n\r\nOK\r\n";
  } else if (command == "AT*QESFUD?") {
    port.input += "\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n";
  } else if (command == "AT*QESFUD=3") {
    port.input += "\r\nOK\r\n";
    m.updateMode = true;
    m.received = 0;
    m.chunks = 0;
    m.frame.clear();
  } else if (command == "AT*Q2RESET") {
    if (m.ignoresRestart) {
      port.input += "\r\nOK\r\n";
      return;
    }
    m.restarts++;
    m.away = true;
    m.pollsWhileAway = 0;
    FakeCommVanish(m.path, FAKE_VANISH_WINE);
  } else if (command == "AT+QVERS" || command == "AT*QVER2" || command == "AT*QVER") {
    port.input += "\r\nERROR\r\n";
  } else {
    port.input += "\r\nOK\r\n";
  }
}

// Frames in update mode: a header, then its payload; every frame is
// answered, and a short last chunk once more, then with a final line.
inline void WorkerModuleFrames(WorkerModule &m, FakePort &port, const std::string &bytes) {
  m.frame += bytes;
  while (m.frame.size() >= 24) {
    const unsigned char *h = (const unsigned char *)m.frame.data();
    uint32_t payload = (uint32_t)h[20] << 24 | (uint32_t)h[21] << 16 | (uint32_t)h[22] << 8 | h[23];
    if (m.frame.size() < 24 + payload) return;
    m.frame.erase(0, 24 + payload);
    m.received += payload;
    m.chunks++;
    if (m.rejectChunk == m.chunks) {
      port.input += WorkerModuleReply(payload, m.rejectCode);
      m.updateMode = false;
      return;
    }
    port.input += WorkerModuleReply(payload, 1);
    if (payload < 8192) {
      port.input += WorkerModuleReply(0, 1) + "\r\nOK\r\n";
      m.packages.push_back(m.received);
      auto install = m.installs.find(m.received);
      if (install != m.installs.end()) m.pendingVersion = install->second;
      else if (m.changesBuildDate) m.pendingVersion = m.version;
      m.updateMode = false;
    }
  }
}

// Puts the module on its port, announces the port for discovery, and
// brings it back after its restarts as the one-second polls pass.
inline std::shared_ptr<WorkerModule> PlugWorkerModule(std::shared_ptr<WorkerModule> m) {
  FakePort &port = FakeCommAddPort(m->path);
  FakeRegKey &key = FakeRegistryAddKey("HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
  key.values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
  port.responder = [m](FakePort &p, const std::string &bytes) {
    if (m->updateMode) {
      WorkerModuleFrames(*m, p, bytes);
      return;
    }
    if (bytes != "\r\n") {
      m->pendingLine += bytes;
      return;
    }
    std::string command = m->pendingLine;
    m->pendingLine.clear();
    if (m->loader) {
      if (command == "AT*Q2RESET") {
        WorkerModuleCommand(*m, p, command);
        return;
      }
      m->commands.push_back(command);
      p.input += command == "vers=1" ? "\r\nOK\r\n" : "\r\nERROR\r\n";
      return;
    }
    if (command == "AT+CGMM") {
      p.input += "\r\nM7120x\r\n\r\nOK\r\n";
      return;
    }
    WorkerModuleCommand(*m, p, command);
  };
  fakeClock.onSleep = [m](int milliseconds) {
    if (!m->away || milliseconds != 1000) return;
    m->pollsWhileAway++;
    size_t which = (size_t)(m->restarts - 1);
    int after = which < m->backAfter.size() ? m->backAfter[which] : m->backAfter.back();
    if (after < 0 || m->pollsWhileAway < after) return;
    m->away = false;
    if (m->blankAfterRestart) m->comesBackBlank = true;
    m->loader = m->loaderAfterRestart;
    if (!m->pendingVersion.empty()) {
      m->version = m->pendingVersion;
      if (m->changesBuildDate) m->buildDate = "Build " + std::to_string(m->restarts);
      m->pendingVersion.clear();
    }
    FakeCommReplug(m->path);
  };
  return m;
}
