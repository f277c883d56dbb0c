// Message boxes asked for from a thread that owns no window.
#include "app/dialogs/message_request.h"

#include "app/run_record.h"
#include "os/dialog.h"

struct MessageRequest {
  int quiet;
  OsWindow owner;
  const char *text;
  const char *caption;
  unsigned style;
  int answer;
};

// The record lives on the asker's stack: the request is served before
// OsSendRequest returns.
int ShowMessageThrough(int quiet, OsWindow dialog, OsWindow owner, const char *text, const char *caption,
                       unsigned style) {
  if (dialog == nullptr) return ShowMessage(quiet, owner, text, caption, style);
  MessageRequest request = {quiet, owner, text, caption, style, 0};
  OsSendRequest(dialog, REQUEST_MESSAGE_BOX, (intptr_t)&request);
  return request.answer;
}

int ShowMessageOnOwnersThread(OsWindow owner, const char *text, const char *caption, unsigned style) {
  return ShowMessageThrough(0, owner, owner, text, caption, style);
}

void ServeMessageRequest(int quiet, intptr_t value) {
  MessageRequest *request = (MessageRequest *)value;
  request->answer =
      ShowMessage(quiet || request->quiet, request->owner, request->text, request->caption, request->style);
}
