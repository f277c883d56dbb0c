// The assignment exchange: the link opened, the package cut into chunks,
// each behind its header and answered before the next goes; and the
// package file loaded whole before any of that.
#include "update/sf_library.h"

#include <cstdlib>
#include <cstring>

#include "at/at.h"
#include "log/trace_log.h"
#include "module_interface.h"
#include "update/sf_header.h"
#include "update/sf_link.h"
#include "update/sf_package_file.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\sf_library";

void DumpHeader(const unsigned char *header) {
  if (header == nullptr) return;
  TRACE(TRACE_DEBUG, "Payload 0x%x\nCommand_code 0x%x\nVersion 0x%x\nReq resp 0x%x\nResult code 0x%x\nseqNr 0x%x\n",
        (unsigned)SFHeaderFieldValue(header, SF_FIELD_PAYLOAD),
        (unsigned)SFHeaderFieldValue(header, SF_FIELD_COMMAND_CODE),
        (unsigned)SFHeaderFieldValue(header, SF_FIELD_VERSION),
        (unsigned)SFHeaderFieldValue(header, SF_FIELD_REQ_RESP),
        (unsigned)SFHeaderFieldValue(header, SF_FIELD_RESULT_CODE),
        (unsigned)SFHeaderFieldValue(header, SF_FIELD_SEQ_NR));
}

// A reply short of 24 bytes, or none at all, ends the assignment as a
// rejection does, and is traced as one.
static bool Refused(const SFReplyJudgement &judgement) {
  return judgement.verdict == SF_REPLY_REJECTED || judgement.verdict == SF_REPLY_SHORT;
}

// Reads one reply into the header's buffer and judges it: each chunk's,
// and the second one after the last chunk. The caller traces a refusal,
// under its own name.
static SFReplyJudgement AwaitReply(SerialDevice *device, SFHeader *header, SFHeaderForm form) {
  std::memset(header->bytes, 0, sizeof header->bytes);
  int received = SFRead(device, header->bytes, MODULE_HEADER_SIZE, MODULE_FRAME_REPLY_TIMEOUT_MS);
  DumpHeader(header->bytes);
  return SFJudgeReply(header->bytes, received, form);
}

// One buffer serves every request and every reply; the package is written
// from the caller's memory and never copied.
int SFLibSendAssignment(SerialDevice *device, const unsigned char *data, int32_t length,
                        SFProgressCallback progress) {
  if (device == nullptr || data == nullptr || length < 0) return SFLIB_NO_DATA;
  if (SFOpen(device, SF_OPEN_QUERY_AND_SWITCH, progress) != 0) return SFLIB_LINK_FAILED;

  const SFHeaderForm form = SFHeaderFormFor(SFProtocolVersion);
  if (progress != nullptr) progress(SF_EVENT_TRANSFER, nullptr);

  SFHeader header;
  int32_t acknowledged = 0;
  int result = SFLIB_OK;
  while (acknowledged < length && result == SFLIB_OK) {
    const int32_t chunk = length - acknowledged < SF_CHUNK_SIZE ? length - acknowledged : SF_CHUNK_SIZE;
    SFBuildHeader(&header, form, (uint32_t)chunk);
    DumpHeader(header.bytes);
    if (SFWrite(device, header.bytes, MODULE_HEADER_SIZE) != MODULE_HEADER_SIZE) {
      TRACE(TRACE_WARNING, "SF_Library: Send header failed");
      result = SFLIB_REJECTED;
      break;
    }
    if (SFWrite(device, data + acknowledged, chunk) != chunk) {
      TRACE(TRACE_WARNING, "SF_Library: Send header failed");
      result = SFLIB_REJECTED;
      break;
    }

    TRACE(TRACE_DEBUG, "Wait for ack\n");
    SFReplyJudgement judgement = AwaitReply(device, &header, form);
    if (Refused(judgement)) TRACE(TRACE_WARNING, "SF_Library: Received NACK");
    result = judgement.result;
    if (result != SFLIB_OK) break;

    acknowledged += chunk;
    if (progress != nullptr) {
      SFProgressPair pair = {acknowledged, length};
      if (SFPercentOf(acknowledged, length) >= 1) progress(SF_EVENT_TRANSFER, &pair);
    }
    TRACE(TRACE_DEBUG, "file_pos %d, fileSize %d, sent bytes %d (%d)\n", (int)acknowledged, (int)length,
          (int)chunk, (int)(acknowledged / length));
  }

  if (result == SFLIB_OK) {
    TRACE(TRACE_DEBUG, "Wait for second ack\n");
    SFReplyJudgement judgement = AwaitReply(device, &header, form);
    if (Refused(judgement)) TRACE(TRACE_WARNING, "SF_Library: Received NACK");
    result = judgement.result;
  }

  // Whatever the module's last line says, the result stands.
  int closing = WaitForResponse(device, nullptr, 0, MODULE_FINAL_LINE_TIMEOUT_MS);
  TRACE(TRACE_DEBUG, "Wait for second OK returned %d\n", closing);
  SFClose(device);
  return result;
}

int SFLibSendAssignmentFile(SerialDevice *device, const char *path, SFProgressCallback progress) {
  return SFLibSendAssignmentFileFrom(device, path, progress, &sfStdioFile);
}

// The file is loaded whole and closed before the module hears anything,
// so a file that cannot be read never leaves it half-updated.
int SFLibSendAssignmentFileFrom(SerialDevice *device, const char *path, SFProgressCallback progress,
                                const SFFileOps *files) {
  if (progress != nullptr) progress(SF_EVENT_LOAD_FILE, nullptr);
  void *file = path != nullptr && files != nullptr ? files->open(path) : nullptr;
  if (file == nullptr) return SFLIB_FILE_NOT_OPENED;

  int result = SFLIB_OK;
  unsigned char *buffer = nullptr;
  const int64_t length = files->length(file);
  if (length < 0) {
    result = SFLIB_FILE_SHORT;
  } else if (length > SFLIB_MAX_FILE_LENGTH) {
    // Never tried, since its length could not be counted: the same failure.
    TRACE(TRACE_WARNING, "SF_Library: Alloc buffer failed");
    result = SFLIB_NO_BUFFER;
  } else {
    buffer = (unsigned char *)std::malloc((size_t)length + 1);
    if (buffer == nullptr) {
      TRACE(TRACE_WARNING, "SF_Library: Alloc buffer failed");
      result = SFLIB_NO_BUFFER;
    } else {
      std::memset(buffer, 0, (size_t)length);
      if (files->read(file, buffer, (size_t)length) != (size_t)length) result = SFLIB_FILE_SHORT;
    }
  }
  files->close(file);

  if (result == SFLIB_OK) result = SFLibSendAssignment(device, buffer, (int32_t)length, progress);
  std::free(buffer);
  return result;
}
