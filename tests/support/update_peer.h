// A fake port that plays the module's update mode: AT commands line by line
// until "AT*QESFUD=3", then 24-byte headers, each with its chunk, answered
// as the test says; it keeps every header and payload byte it received.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_comm.h"

struct UpdatePeer {
  // --- how it answers ---------------------------------------------------------
  std::string versionLine = "*QESFUD: {state 0, version 0x00000020}";
  int queryFailures = 0;  // "AT*QESFUD?" answers ERROR this many times first
  std::map<std::string, std::string> replies;  // a command's whole reply, instead of the usual one
  // The reply to chunk n (from 1) sent behind `header`; by default the
  // header itself with "Result code" 1, as the module's loader answers.
  std::function<std::string(int chunk, const std::string &header)> chunkReply;
  // Once this many payload bytes have arrived: one more reply and a final line.
  int64_t packageLength = -1;
  std::function<std::string(const std::string &header)> finalReply;
  std::string finalLine = "\r\nOK\r\n";

  // --- what it received ---------------------------------------------------------
  std::vector<std::string> commands;
  std::vector<std::string> headers;
  std::vector<size_t> chunkLengths;
  std::string payload;
  bool updateMode = false;
  bool finished = false;  // the final reply went out

  static std::string Accept(const std::string &header) {
    std::string reply = header;
    reply[12] = reply[13] = reply[14] = 0;
    reply[15] = 1;
    return reply;
  }

 private:
  std::string pending_;
  std::string frames_;
  std::string header_;
  uint32_t chunkLeft_ = 0;

  std::string AtReply(const std::string &command) {
    auto found = replies.find(command);
    if (found != replies.end()) return found->second;
    if (command == "ATE0" || command == "AT*QESFUD=1" || command == "AT*QESFUD=2") return "\r\nOK\r\n";
    if (command == "AT*QESFUD=3") {
      updateMode = true;
      return "\r\nOK\r\n";
    }
    if (command == "AT*QESFUD?") {
      if (queryFailures > 0) {
        queryFailures--;
        return "\r\nERROR\r\n";
      }
      return "\r\n" + versionLine + "\r\n\r\nOK\r\n";
    }
    return "\r\nERROR\r\n";
  }

  static uint32_t Payload(const std::string &header) {
    const unsigned char *at = (const unsigned char *)header.data() + 20;
    return (uint32_t)at[0] << 24 | (uint32_t)at[1] << 16 | (uint32_t)at[2] << 8 | at[3];
  }

  void TakeFrames(FakePort &port) {
    for (;;) {
      if (chunkLeft_ == 0) {
        if (frames_.size() < 24) return;
        header_ = frames_.substr(0, 24);
        frames_.erase(0, 24);
        headers.push_back(header_);
        chunkLeft_ = Payload(header_);
        chunkLengths.push_back(0);
        if (chunkLeft_ == 0) continue;
      }
      if (frames_.empty()) return;
      size_t take = frames_.size() < chunkLeft_ ? frames_.size() : chunkLeft_;
      payload.append(frames_, 0, take);
      frames_.erase(0, take);
      chunkLeft_ -= (uint32_t)take;
      chunkLengths.back() += take;
      if (chunkLeft_ != 0) continue;
      port.input += chunkReply ? chunkReply((int)headers.size(), header_) : Accept(header_);
      if (packageLength >= 0 && (int64_t)payload.size() == packageLength && !finished) {
        finished = true;
        port.input += (finalReply ? finalReply(header_) : Accept(header_)) + finalLine;
      }
    }
  }

 public:
  void Take(FakePort &port, const std::string &bytes) {
    if (updateMode) {
      frames_ += bytes;
      TakeFrames(port);
      return;
    }
    if (bytes != "\r\n") {
      pending_ += bytes;
      return;
    }
    commands.push_back(pending_);
    std::string command = pending_;
    pending_.clear();
    port.input += AtReply(command);
  }
};

// The peer lives as long as the port's responder or the test holds it.
inline std::shared_ptr<UpdatePeer> PlayUpdatePeer(FakePort &port) {
  auto peer = std::make_shared<UpdatePeer>();
  port.responder = [peer](FakePort &p, const std::string &bytes) { peer->Take(p, bytes); };
  return peer;
}
