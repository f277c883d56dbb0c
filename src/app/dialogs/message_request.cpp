// Message boxes asked for from a thread that owns no window.
#include "app/dialogs/message_request.h"

#include "app/state.h"
#include "os/dialog.h"

struct MessageRequest {
  OsWindow owner;
  const char *text;
  const char *caption;
  unsigned style;
  int answer;
};

// The record lives on the asker's stack: the request is served before
// OsSendRequest returns.
int ShowMessageThrough(OsWindow dialog, OsWindow owner, const char *text, const char *caption, unsigned style) {
  if (dialog == nullptr) return ShowMessage(owner, text, caption, style);
  MessageRequest request = {owner, text, caption, style, 0};
  OsSendRequest(dialog, REQUEST_MESSAGE_BOX, (intptr_t)&request);
  return request.answer;
}

int ShowMessageOnOwnersThread(OsWindow owner, const char *text, const char *caption, unsigned style) {
  return ShowMessageThrough(owner, owner, text, caption, style);
}

void ServeMessageRequest(intptr_t value) {
  MessageRequest *request = (MessageRequest *)value;
  request->answer = ShowMessage(request->owner, request->text, request->caption, request->style);
}
