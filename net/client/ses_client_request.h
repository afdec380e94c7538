// One request of a CSesClient as the client keeps it: the message to send,
// where it waits, and the reply once it has come. Only the client's own
// files see it.
#pragma once

#include <list>
#include <vector>

#include "net/client/ses_client.h"

namespace halvorin {

struct CSesClient::Request {
    ReplyHandler handler;
    std::vector<uint8_t> message;  // header and payload; empty once its sending began
    std::vector<uint8_t> reply;
    int result = 0;
    uint16_t slot = 0;
    int bucket = -1;  // index into buckets_, -1 when in none
    std::list<Request*>::iterator bucket_position;
    std::list<Request*>::iterator queue_position;
    bool queued = false;
    uint64_t connection = kAnyConnection;  // the only connection it may go out on
};

}  // namespace halvorin
